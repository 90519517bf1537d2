// What the host tools share besides their command lines: whole-file reads
// and all-or-nothing writes, numbers, and the signing key to use.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace qzr::pack {

// A mistake in the command line: the tool names it and exits with 2.
struct usage_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::vector<std::uint8_t> read_file(const std::string& path);

// Written under a temporary name and renamed, so a failed run leaves nothing.
void write_file(const std::string& path, std::span<const std::uint8_t> data);

// The key named on the command line, else $VELTRO_PACK_KEY, else the
// development key the tool was built with.
std::string key_path(const std::string& given);

// A whole decimal number; a usage error naming what for anything else.
std::uint64_t parse_number(const std::string& text, const char* what);
// Signature version 2 or 3.
int parse_version(const std::string& text);

// SOURCE_DATE_EPOCH when it is set.
std::optional<std::uint64_t> source_date_epoch();

// The file's modification time in seconds since 1970.
std::uint64_t modification_time(const std::string& path);

}  // namespace qzr::pack
