// Small file-system helpers over the wide Win32 API.
#pragma once

#include <memory>
#include <string>

namespace qzr::win {

bool is_directory(const std::wstring& path) noexcept;
bool exists(const std::wstring& path) noexcept;
// Creates the folder and every missing parent; true when it exists as a
// folder afterwards. On false, GetLastError() is the folder's own failed
// CreateDirectoryW error. sd may be null (default security).
bool create_directories(const std::wstring& path, void* security_descriptor = nullptr) noexcept;
// The full path of a possibly relative path.
std::wstring full_path(const std::wstring& path);

// Opens an existing file for reading and shares nothing but reading: while
// the handle is open nobody, this process included, can write, truncate,
// rename, replace or delete the file, and readers (a program started from
// it, a module loaded from it) still can. Fails with a sharing violation
// while someone else has it open for writing or deleting. The handle is not
// inherited by child processes. Raises on failure.
std::shared_ptr<void> open_placed(const std::wstring& path);

}  // namespace qzr::win
