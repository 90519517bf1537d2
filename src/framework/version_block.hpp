// A version resource read from its bytes: the block an executable carries
// as resource 1 of type RT_VERSION (nodes of length, value length, type,
// key, value and children, each on a 32-bit boundary). The stub reads its
// own block from its loaded image, so that it never needs the system's
// version library.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "framework/byte_view.hpp"

namespace qzr::version_block {

// The four parts of the fixed file version; none when the block is not a
// version block or its fixed part is missing.
std::optional<std::array<std::uint16_t, 4>> file_version(byte_view block) noexcept;

// The string name of the table of the block's first translation, without
// its terminator; none when the block, the translation, the table or the
// string is missing or malformed.
std::optional<std::wstring> string_value(byte_view block, std::wstring_view name);

}  // namespace qzr::version_block
