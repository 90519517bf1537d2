// The version resource of a file (the stub reads its own).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace qzr::win {

// A string value of the first translation of the StringFileInfo block.
std::optional<std::wstring> version_string(const std::wstring& file, const std::wstring& name);
// The four parts of the fixed file version.
std::optional<std::array<std::uint16_t, 4>> file_version(const std::wstring& file);

}  // namespace qzr::win
