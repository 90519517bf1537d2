// Keeping a verified file as it was verified: a read handle that shares
// reading only, so that while it is held nobody can write the file, replace
// it, rename it or delete it. Whoever checks a file and then uses it by path
// (loads it, trusts its process) holds one from before the check until the
// use is over.
#pragma once

#include <string>

#include "win/handle.hpp"

namespace qzr::win {

// The open handle, or an empty one with the system's last error set (a file
// that is already open for writing elsewhere cannot be locked).
file_handle lock_against_writers(const std::wstring& path) noexcept;

}  // namespace qzr::win
