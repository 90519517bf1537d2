// Base64 text of byte strings: the standard alphabet with '+' and '/' and '='
// padding.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qzr::base64 {

std::string encode(std::span<const std::uint8_t> bytes);

// Strict decoding of the canonical form only: a multiple of four characters
// of the alphabet, at most two '=' and only at the end, and zero bits in
// whatever the padding leaves over. Anything else (whitespace, line breaks,
// the URL-safe alphabet, missing padding) is refused as a whole, so a damaged
// value never decodes into a plausible but wrong one.
std::optional<std::vector<std::uint8_t>> decode(std::string_view text);

}  // namespace qzr::base64
