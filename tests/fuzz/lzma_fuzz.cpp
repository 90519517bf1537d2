// Fuzz driver for the LZMA-alone decoder: any input decodes or raises the
// project's error, and a stream that announces its size yields exactly that
// many bytes. Output goes to a writer that refuses more than a bound, since a
// few bytes of LZMA data may legitimately describe gigabytes; decoding into
// memory is tried only when the header announces a size within the bound.
// Streams claiming a dictionary above fuzz::dictionary_bound are skipped.
// Seeds: LZMA files of veltro-repo and of the build's xz step (make_seeds).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "framework/errors.hpp"
#include "framework/lzma_codec.hpp"
#include "fuzz_support.hpp"

using namespace qzr;

constexpr std::uint64_t output_bound = 4 << 20;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const byte_view input(data, size);
    packers::lzma_header header;
    try {
        header = packers::read_lzma_header(input);
    } catch (const exceptions::error&) {
        return 0;
    }
    if (header.dictionary_size > fuzz::dictionary_bound) return 0;

    fuzz::bounded_writer file(output_bound);
    try {
        const std::uint64_t produced = packers::lzma_decode(input, &file, nullptr);
        if (produced != file.written()) std::abort();
        if (header.size_known && produced != header.uncompressed_size) std::abort();
    } catch (const exceptions::error&) {
    } catch (const fuzz::output_limit&) {
    }

    if (header.size_known && header.uncompressed_size <= output_bound) {
        try {
            const std::vector<std::uint8_t> memory = packers::lzma_decode(input);
            if (memory.size() != header.uncompressed_size) std::abort();
        } catch (const exceptions::error&) {
        }
    }
    return 0;
}
