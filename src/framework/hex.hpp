// Hexadecimal text of byte strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qzr::hex {

std::string encode(std::span<const std::uint8_t> bytes, bool upper = false);
std::wstring wencode(std::span<const std::uint8_t> bytes, bool upper = false);

// Strict decoding: an even number of hex digits (either case), nothing else.
std::optional<std::vector<std::uint8_t>> decode(std::string_view text);

// Value of one hex digit, or -1.
int digit_value(char32_t c) noexcept;

}  // namespace qzr::hex
