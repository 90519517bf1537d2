// What another program could still do to a file: write it, delete it,
// rename it away or replace it with another one. Used to check the holds on
// placed setup files.
#pragma once

#include <windows.h>

#include <string>

namespace qzr::test {

// The changes that went through, by name ("write", "delete", "rename",
// "replace"); empty when the file refused every one. A change that went
// through is not undone: the caller's file is spoilt then.
inline std::string changes_allowed(const std::wstring& file) {
    std::string allowed;
    const auto note = [&](const char* what) { allowed += allowed.empty() ? what : std::string(" ") + what; };
    const HANDLE w = ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (w != INVALID_HANDLE_VALUE) {
        note("write");
        ::CloseHandle(w);
    }
    const std::wstring other = file + L".other";
    if (HANDLE o = ::CreateFileW(other.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
        o != INVALID_HANDLE_VALUE)
        ::CloseHandle(o);
    if (::MoveFileExW(other.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) note("replace");
    ::DeleteFileW(other.c_str());
    const std::wstring away = file + L".away";
    if (::MoveFileExW(file.c_str(), away.c_str(), 0)) {
        note("rename");
        ::MoveFileExW(away.c_str(), file.c_str(), 0);
    }
    if (::DeleteFileW(file.c_str())) note("delete");
    return allowed;
}

// Whether a reader sharing only reading (as a program loader does) can open
// the file.
inline bool readable_by_others(const std::wstring& file) {
    const HANDLE r = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (r == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(r);
    return true;
}

}  // namespace qzr::test
