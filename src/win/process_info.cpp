#include "win/process_info.hpp"

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include "framework/text_format.hpp"
#include "win/handle.hpp"
#include "win/system_error.hpp"

namespace qzr::win {

std::wstring module_file_name() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got < buffer.size()) {
            buffer.resize(got);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring launched_by() {
    file_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) raise_last_error(L"CreateToolhelp32Snapshot");
    const DWORD self = ::GetCurrentProcessId();
    DWORD parent = 0;
    bool found = false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = ::Process32FirstW(snapshot.get(), &entry); ok; ok = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            found = true;
            break;
        }
    }
    if (!found) throw exceptions::error(L"Process %u not found in the process list", self);
    entry.dwSize = sizeof entry;
    for (BOOL ok = ::Process32FirstW(snapshot.get(), &entry); ok; ok = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == parent) return text::format(L"%d-%s", parent, entry.szExeFile);
    }
    throw exceptions::error(L"Parent process %u not found", parent);
}

std::uint32_t integrity_level() noexcept {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return 0;
    const handle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
    if (!size) return 0;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
    if (!::GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.get(), size, &size)) return 0;
    const auto* label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.get());
    PSID sid = label->Label.Sid;
    if (!sid || !::IsValidSid(sid)) return 0;
    const UCHAR count = *::GetSidSubAuthorityCount(sid);
    if (!count) return 0;
    return *::GetSidSubAuthority(sid, count - 1u);
}

std::wstring common_app_data() {
    wchar_t buffer[MAX_PATH] = {};
    const HRESULT hr = ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
    if (FAILED(hr)) throw exceptions::error(static_cast<std::int32_t>(hr), L"SHGetFolderPathW (CSIDL_COMMON_APPDATA)");
    return buffer;
}

namespace {
using disable_fn = BOOL(WINAPI*)(PVOID*);
using revert_fn = BOOL(WINAPI*)(PVOID);
using is_wow64_fn = BOOL(WINAPI*)(HANDLE, PBOOL);

template <class F>
F kernel32_proc(const char* name) {
    HMODULE k = ::GetModuleHandleW(L"kernel32");
    return k ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(k, name))) : nullptr;
}
}  // namespace

fs_redirection_auto::fs_redirection_auto() noexcept {
    const auto is_wow64 = kernel32_proc<is_wow64_fn>("IsWow64Process");
    BOOL wow64 = FALSE;
    if (!is_wow64 || !is_wow64(::GetCurrentProcess(), &wow64) || !wow64) return;
    const auto disable = kernel32_proc<disable_fn>("Wow64DisableWow64FsRedirection");
    const auto revert = kernel32_proc<revert_fn>("Wow64RevertWow64FsRedirection");
    if (!disable || !revert) return;
    disabled_ = disable(&old_value_) != FALSE;
}

fs_redirection_auto::~fs_redirection_auto() {
    if (!disabled_) return;
    if (const auto revert = kernel32_proc<revert_fn>("Wow64RevertWow64FsRedirection")) revert(old_value_);
}

}  // namespace qzr::win
