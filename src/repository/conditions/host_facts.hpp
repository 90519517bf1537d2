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
// executable at the path the entry hands over (the loader's record of the
// executable may have been pointed elsewhere by the DLL-search hardening);
// without one, from the module's own file name.
std::shared_ptr<const host_facts_intf> running_host();
void set_running_executable(const std::wstring& path);

// The brand an executable's version resource names: ProductId up to its
// first '-', provided ModuleId is readable too (Win32 build only).
std::optional<brand> brand_of_executable(const std::wstring& path);

}  // namespace qzr::repository::conditions
