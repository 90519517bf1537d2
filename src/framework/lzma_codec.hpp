// The LZMA-alone (.lzma) format: a 13-byte header (properties, dictionary
// size, uncompressed size or all ones) followed by LZMA data. Decoding runs
// chunk by chunk into a file, into memory, or both.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "framework/byte_source.hpp"
#include "framework/byte_view.hpp"
#include "framework/stream_writer.hpp"

namespace qzr::packers {

struct lzma_header {
    std::uint8_t properties = 0;
    std::uint32_t dictionary_size = 0;
    std::uint64_t uncompressed_size = 0;
    bool size_known = false;
};

inline constexpr std::size_t lzma_header_size = 13;

// Raises error 13 "Unable to read LZMA header!" for fewer than 13 bytes.
lzma_header read_lzma_header(byte_view input);

// Decodes input into file and/or memory (either may be null, not both).
// Errors: 13 short header; 4 properties above 224; the decoder's code
// "Unable to decompress LZMA stream!"; 1 "The LZMA stream has ended
// prematurely!" when the input runs out before the announced size.
// Returns the number of bytes produced.
// The input is read window by window, so a file source decodes with bounded
// memory whatever its size.
std::uint64_t lzma_decode(byte_source& input, stream_writter_intf* file, std::vector<std::uint8_t>* memory);
std::uint64_t lzma_decode(byte_view input, stream_writter_intf* file, std::vector<std::uint8_t>* memory);
std::vector<std::uint8_t> lzma_decode(byte_view input);

// Encoding, for the tools: level 0-9, optionally with the "extreme" preset;
// the header carries the uncompressed size.
std::vector<std::uint8_t> lzma_encode(std::span<const std::uint8_t> data, std::uint32_t level = 9,
                                      bool extreme = false);

}  // namespace qzr::packers
