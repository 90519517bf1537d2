// Joining of file-system paths: exactly one '\' or '/' at the seam.
#pragma once

#include <string>
#include <string_view>

namespace qzr::path {

inline bool is_separator(wchar_t c) noexcept { return c == L'\\' || c == L'/'; }

// An empty first part gets no separator; a separator on both sides collapses
// to the left one; none is added when either side already has one.
std::wstring join(std::wstring_view left, std::wstring_view right);

// The folder part of a path (up to the last separator, without it); empty
// when the path has no separator.
std::wstring parent(std::wstring_view path);

// Whether path names its place fully: "C:\..." or a share "\\server\...".
inline bool is_absolute(std::wstring_view path) noexcept {
    const bool drive = path.size() >= 3 && ((path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z') && path[1] == L':' &&
                       is_separator(path[2]);
    return drive || (path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]));
}

}  // namespace qzr::path
