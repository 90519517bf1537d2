// SHA-256 of a whole open file, fed from 32 MiB mapped windows.
#pragma once

#include <windows.h>

#include "framework/digest.hpp"

namespace qzr::root {

inline constexpr std::uint32_t hash_window = 0x2000000;

digest hash_file(HANDLE file);

}  // namespace qzr::root
