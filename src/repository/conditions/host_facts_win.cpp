// The running system as conditions see it: read once per process.
#include <windows.h>

#include "repository/conditions/host_facts.hpp"
#include "win/handle.hpp"
#include "win/process_info.hpp"
#include "win/system_error.hpp"
#include "win/version_resource.hpp"

namespace qzr::repository::conditions {

namespace {

constexpr DWORD no_such_device = 433;  // ERROR_NO_SUCH_DEVICE

// File rules describe the machine, as the platform rule does: a 32-bit stub
// on 64-bit Windows looks at the folders a native program sees, so that
// C:\Windows\System32 is the 64-bit system folder there (SysWOW64 names the
// 32-bit one). Redirection is off for the one query and back on after it.

class windows_host final : public host_facts_intf {
public:
    const environment::os_record& os() const override { return environment::os_info(); }

    std::optional<brand> stub_brand() const override {
        static const std::optional<brand> decided = brand_of_module(nullptr);
        return decided;
    }

    std::optional<std::uint32_t> file_attributes(const std::wstring& path) const override {
        const win::fs_redirection_auto native_view;
        const DWORD a = ::GetFileAttributesW(path.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) return std::nullopt;
        return a;
    }

    bool device_exists(const std::wstring& path) const override {
        const win::fs_redirection_auto native_view;
        win::file_handle h(::CreateFileW(path.c_str(), SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (h) return true;
        const DWORD err = ::GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == no_such_device) return false;
        throw exceptions::error(static_cast<std::int32_t>(err), L"Unable to query file object '%ls'!", path);
    }

    std::uint64_t file_size(const std::wstring& path) const override {
        const win::fs_redirection_auto native_view;
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
            win::raise_last_error(L"Unable to get file size!");
        return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    }
};

}  // namespace

std::optional<brand> brand_of_module(void* module) {
    const auto product_id = win::version_string(static_cast<HMODULE>(module), L"ProductId");
    const auto module_id = win::version_string(static_cast<HMODULE>(module), L"ModuleId");
    if (!product_id || !module_id) return std::nullopt;
    return brand_from_product_id(*product_id);
}

std::shared_ptr<const host_facts_intf> running_host() {
    static const auto host = std::make_shared<windows_host>();
    return host;
}

}  // namespace qzr::repository::conditions
