// What conditions ask of the machine they run on. Pure code and tests state
// any machine through this interface; the Win32 implementation reads the
// running system once per process.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "environment/os_info.hpp"
#include "repository/conditions/brand.hpp"

namespace qzr::repository::conditions {

class host_facts_intf {
public:
    virtual ~host_facts_intf() = default;
    virtual const environment::os_record& os() const = 0;
    // The stub's brand from its version resource; none without one.
    virtual std::optional<brand> stub_brand() const = 0;
    // GetFileAttributesW; none when the call fails.
    virtual std::optional<std::uint32_t> file_attributes(const std::wstring& path) const = 0;
    // Whether a file-system object (file, folder, device) can be opened;
    // raises "Unable to query file object '%ls'!" for errors other than
    // "not found".
    virtual bool device_exists(const std::wstring& path) const = 0;
    // Raises "Unable to get file size!".
    virtual std::uint64_t file_size(const std::wstring& path) const = 0;
};

// The running system (Windows builds only). Its brand comes from the
// version resource of the process's own executable image.
std::shared_ptr<const host_facts_intf> running_host();

// The brand the version resource of a loaded module (null: the process's
// executable) names: ProductId up to its first '-', provided ModuleId is
// readable too (Win32 build only).
std::optional<brand> brand_of_module(void* module);

}  // namespace qzr::repository::conditions
