// Small file-system helpers over the wide Win32 API.
#pragma once

#include <cstdint>
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

// Writes all size bytes at the handle's position, in parts a single call
// can take, going on after a short write. False on failure, with the last
// error set: the system's, or ERROR_DISK_FULL when a write took nothing
// (some systems report a full disk as a short write, not as an error).
bool write_all(void* file, const void* data, std::uint64_t size) noexcept;

// Opens an existing file for reading and shares nothing but reading: while
// the handle is open nobody, this process included, can write, truncate,
// rename, replace or delete the file, and readers (a program started from
// it, a module loaded from it) still can. Fails with a sharing violation
// while someone else has it open for writing or deleting. The handle is not
// inherited by child processes. Raises on failure.
std::shared_ptr<void> open_placed(const std::wstring& path);

}  // namespace qzr::win
