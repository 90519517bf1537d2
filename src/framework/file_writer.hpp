// Writing a whole file in one go; a file that could not be written whole is
// removed before the failure is passed on.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qzr::files {

// Creates (or replaces) the file. Raises the general error with the system
// code and "Unable to create file '%ls'!" when it cannot be created, and the
// write failure (the partial file deleted) when it cannot be written.
void write_whole_file(const std::wstring& path, std::span<const std::uint8_t> data);

// The same for a file that carries secrets: it is created readable by its
// owner, Administrators and the system only (by its owner only on other
// systems), whatever the folder would hand down.
void write_private_file(const std::wstring& path, std::span<const std::uint8_t> data);

}  // namespace qzr::files
