// Small file-system helpers over the wide Win32 API.
#pragma once

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

}  // namespace qzr::win
