// Whether this machine's file system keeps the access-control lists it is
// given. Windows does; a Wine prefix synthesizes them from Unix file modes
// and drops what it was handed, so ACL checks can only run where they hold.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

namespace qzr::test {

// The DACL of a folder as SDDL text ("D:P(A;OICI;FA;;;SY)..."), empty on failure.
inline std::wstring folder_dacl(const std::wstring& folder) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    PACL dacl = nullptr;
    if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &sd) != ERROR_SUCCESS)
        return {};
    LPWSTR text = nullptr;
    std::wstring out;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                             nullptr)) {
        out = text;
        LocalFree(text);
    }
    LocalFree(sd);
    return out;
}

inline bool file_system_keeps_dacls() {
    static const bool keeps = [] {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        const std::wstring probe = std::wstring(tmp) + L"acl-probe-" + std::to_wstring(GetCurrentProcessId());
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;BU)", SDDL_REVISION_1, &sd, nullptr))
            return false;
        SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
        const bool created = CreateDirectoryW(probe.c_str(), &sa) != FALSE;
        LocalFree(sd);
        if (!created) return false;
        const std::wstring dacl = folder_dacl(probe);
        RemoveDirectoryW(probe.c_str());
        return dacl.rfind(L"D:P", 0) == 0 && dacl.find(L"BU") != std::wstring::npos;
    }();
    return keeps;
}

}  // namespace qzr::test
