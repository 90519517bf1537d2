// The version resource of a loaded module (the stub reads its own), taken
// from the module's resources rather than through the system's version
// library, which would have to be loaded from somewhere first.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace qzr::win {

// A string value of the first translation of the StringFileInfo block of
// module (null: the executable of this process).
std::optional<std::wstring> version_string(HMODULE module, const std::wstring& name);
// The four parts of the fixed file version of module (null: this process's
// executable).
std::optional<std::array<std::uint16_t, 4>> file_version(HMODULE module);

}  // namespace qzr::win
