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

}  // namespace qzr::path
