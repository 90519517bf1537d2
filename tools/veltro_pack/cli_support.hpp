// What the host tools share besides their command lines: whole-file reads
// and all-or-nothing writes, numbers, and the signing key to use.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "signature_writer.hpp"

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

// A private key to sign with, and whether it is a development key (see
// development_keys.hpp): then anything it signs can be forged by anyone.
struct signing_key {
    std::string path;
    digest_signer sign;
    std::string development;  // "keys/dev/k4.pem", or "" for a key of one's own
};

// Reads the key at path; a development key is refused when release is set.
signing_key open_key(const std::string& path, bool release);

// For every command that signs: a warning on standard error, under the tool's
// name, when the key is a development key.
void warn_if_development(const signing_key& key, const std::string& tool);

// A whole decimal number; a usage error naming what for anything else.
std::uint64_t parse_number(const std::string& text, const char* what);
// Signature version 2 or 3.
int parse_version(const std::string& text);

// SOURCE_DATE_EPOCH when it is set.
std::optional<std::uint64_t> source_date_epoch();

// The file's modification time in seconds since 1970.
std::uint64_t modification_time(const std::string& path);

}  // namespace qzr::pack
