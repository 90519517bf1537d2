#include "win/file_system.hpp"

#include <windows.h>

#include "framework/path.hpp"
#include "win/system_error.hpp"

namespace qzr::win {

bool is_directory(const std::wstring& path) noexcept {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool exists(const std::wstring& path) noexcept { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool create_directories(const std::wstring& path, void* security_descriptor) noexcept {
    if (path.empty()) return false;
    if (is_directory(path)) return true;
    SECURITY_ATTRIBUTES sa{sizeof sa, security_descriptor, FALSE};
    LPSECURITY_ATTRIBUTES psa = security_descriptor ? &sa : nullptr;
    // Each ancestor in turn; their results do not matter, only the last one.
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (!path::is_separator(path[i])) continue;
        const std::wstring part = path.substr(0, i);
        if (part.size() <= 2 && part.back() == L':') continue;  // a drive, "C:"
        if (part.empty() || path::is_separator(part.back())) continue;
        ::CreateDirectoryW(part.c_str(), psa);
    }
    if (::CreateDirectoryW(path.c_str(), psa)) return true;
    // Callers read the reason right after a failure: it must be this call's,
    // not that of the attribute query below.
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS && is_directory(path)) return true;
    ::SetLastError(error);
    return false;
}

bool write_all(void* file, const void* data, std::uint64_t size) noexcept {
    constexpr std::uint64_t part_limit = 64u << 20;
    const auto* at = static_cast<const unsigned char*>(data);
    while (size) {
        const DWORD part = static_cast<DWORD>(size < part_limit ? size : part_limit);
        DWORD written = 0;
        if (!::WriteFile(static_cast<HANDLE>(file), at, part, &written, nullptr)) return false;
        if (written == 0) {
            ::SetLastError(ERROR_DISK_FULL);
            return false;
        }
        at += written;
        size -= written;
    }
    return true;
}

std::shared_ptr<void> open_placed(const std::wstring& path) {
    const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) raise_last_error(L"Unable to open file '%ls' for reading!", path);
    return std::shared_ptr<void>(h, [](void* p) { ::CloseHandle(p); });
}

std::wstring full_path(const std::wstring& path) {
    DWORD need = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (!need) raise_last_error(L"GetFullPathNameW (%s)", path);
    std::wstring out(need, L'\0');
    const DWORD got = ::GetFullPathNameW(path.c_str(), need, out.data(), nullptr);
    if (!got || got >= need) raise_last_error(L"GetFullPathNameW (%s)", path);
    out.resize(got);
    return out;
}

}  // namespace qzr::win
