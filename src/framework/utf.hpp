// UTF-8 <-> wide text. Wide text is UTF-16 on Windows and UTF-32 on the host
// build; both directions replace invalid sequences with U+FFFD instead of
// failing, so that a damaged name can still be logged.
#pragma once

#include <string>
#include <string_view>

namespace qzr::utf {

std::string to_utf8(std::wstring_view text);
std::wstring from_utf8(std::string_view text);

// ASCII-only case folding (the classic locale), used for switch names and
// other identifiers that are compared case-insensitively.
wchar_t ascii_lower(wchar_t c) noexcept;
std::wstring ascii_lower(std::wstring_view text);
bool iequals(std::wstring_view a, std::wstring_view b) noexcept;
// Position of needle in haystack ignoring ASCII case, npos when absent.
std::size_t ifind(std::wstring_view haystack, std::wstring_view needle, std::size_t from = 0) noexcept;

}  // namespace qzr::utf
