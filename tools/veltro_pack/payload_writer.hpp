// The write side of the payload format: entry headers, the end entry, and the
// placement of a payload behind a bare stub.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qzr::pack {

using bytes = std::vector<std::uint8_t>;

struct entry_header {
    std::uint32_t type = 0x46;
    std::uint32_t flags = 0;  // reader kind
    std::uint64_t timestamp = 0;
    std::uint8_t sha256[32] = {};
    std::string alias;  // UTF-8
};

// Header, name and data of one entry.
void append_entry(bytes& out, const entry_header& header, std::span<const std::uint8_t> data);
// The 58-byte end entry.
void append_end_entry(bytes& out);

// Offset just behind the raw data of the image's last section; raises
// std::runtime_error for a file that is not a PE image.
std::uint64_t image_end(std::span<const std::uint8_t> image);

}  // namespace qzr::pack
