#include "framework/lzma_codec.hpp"

#include <lzma.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace qzr::packers {

namespace {

constexpr std::uint32_t max_properties = 224;  // (pb 4 * 5 + lp 4) * 9 + lc 8
constexpr std::uint32_t min_dictionary = 4096;
constexpr std::size_t chunk_size = 1u << 20;
// Reserving memory is only a hint; a header must not make us reserve more
// than this up front.
constexpr std::uint64_t max_reserve = 64u << 20;

// liblzma advances next_in by what it took even when it took nothing, so it
// must never be null: this stands in where there is no input (yet).
constexpr std::uint8_t no_input = 0;

struct stream_guard {
    lzma_stream s = LZMA_STREAM_INIT;
    ~stream_guard() { lzma_end(&s); }
};

[[noreturn]] void decoder_failed(lzma_ret ret) {
    throw exceptions::error(static_cast<std::int32_t>(ret), "Unable to decompress LZMA stream!");
}

}  // namespace

lzma_header read_lzma_header(byte_view input) {
    if (input.size() < lzma_header_size)
        throw exceptions::error(exceptions::invalid_data_code, "Unable to read LZMA header!");
    lzma_header h;
    h.properties = input.u8(0);
    h.dictionary_size = input.u32(1);
    h.uncompressed_size = input.u64(5);
    h.size_known = static_cast<std::int32_t>(h.uncompressed_size >> 32) >= 0;
    return h;
}

std::uint64_t lzma_decode(byte_source& input, stream_writter_intf* file, std::vector<std::uint8_t>* memory) {
    if (!file && !memory) throw exceptions::error(exceptions::invalid_parameter_code, "No output for LZMA data");
    if (input.size() < lzma_header_size)
        throw exceptions::error(exceptions::invalid_data_code, "Unable to read LZMA header!");
    const lzma_header header = read_lzma_header(input.bytes(0, lzma_header_size));
    if (header.properties > max_properties) throw exceptions::error(4, "Unable to allocate LZMA context!");

    lzma_options_lzma options{};
    std::uint32_t props = header.properties;
    options.lc = props % 9;
    props /= 9;
    options.lp = props % 5;
    options.pb = props / 5;
    options.dict_size = std::max(header.dictionary_size, min_dictionary);
    // With a known size the decoder stops there, with or without an end mark
    // behind it; without one the end mark ends the data.
    lzma_vli filter_id = LZMA_FILTER_LZMA1;
    if (header.size_known) {
        filter_id = LZMA_FILTER_LZMA1EXT;
        options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
        lzma_set_ext_size(options, header.uncompressed_size);
    }
    const lzma_filter filters[] = {{filter_id, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    stream_guard guard;
    if (const lzma_ret ret = lzma_raw_decoder(&guard.s, filters); ret != LZMA_OK)
        throw exceptions::error(ret == LZMA_MEM_ERROR ? 2 : static_cast<std::int32_t>(ret),
                                "Unable to allocate LZMA context!");

    if (header.size_known) {
        if (file) file->set_size(header.uncompressed_size);
        if (memory) memory->reserve(static_cast<std::size_t>(std::min(header.uncompressed_size, max_reserve)));
    }

    lzma_stream& s = guard.s;
    s.next_in = &no_input;  // a header without data behind it never refills
    std::uint64_t read_up_to = lzma_header_size;
    // The decoder holds on to the window until it has taken all of it.
    const auto refill = [&] {
        if (s.avail_in != 0 || read_up_to == input.size()) return;
        const byte_view w = input.window(read_up_to, SIZE_MAX);
        s.next_in = w.data();
        s.avail_in = w.size();
        read_up_to += w.size();
    };
    std::vector<std::uint8_t> chunk(memory && !file ? 0 : chunk_size);
    std::uint64_t produced = 0;
    for (;;) {
        std::uint64_t want = chunk_size;
        if (header.size_known) want = std::min(want, header.uncompressed_size - produced);
        if (want == 0) break;

        std::uint8_t* out;
        std::size_t memory_at = 0;
        if (memory && !file) {
            memory_at = memory->size();
            memory->resize(memory_at + static_cast<std::size_t>(want));
            out = memory->data() + memory_at;
        } else {
            out = chunk.data();
        }
        s.next_out = out;
        s.avail_out = static_cast<std::size_t>(want);
        refill();
        const bool last = read_up_to == input.size();
        const lzma_ret ret = lzma_code(&s, s.avail_in || !last ? LZMA_RUN : LZMA_FINISH);
        const std::size_t got = static_cast<std::size_t>(want) - s.avail_out;
        if (memory && !file) memory->resize(memory_at + got);
        if (got) {
            if (file) file->write(out, got);
            if (memory && file) memory->insert(memory->end(), out, out + got);
            produced += got;
        }
        if (ret == LZMA_STREAM_END) break;  // the end mark
        if (ret == LZMA_BUF_ERROR || (ret == LZMA_OK && got == 0 && s.avail_in == 0 && last)) {
            // No more input. With a known size this is a cut-off stream; without
            // one, the data may simply end without an end mark.
            if (header.size_known && produced < header.uncompressed_size)
                throw exceptions::error(1, "The LZMA stream has ended prematurely!");
            break;
        }
        if (ret != LZMA_OK) decoder_failed(ret);
    }
    if (file && (!header.size_known || produced != header.uncompressed_size)) file->set_size(produced);
    return produced;
}

std::uint64_t lzma_decode(byte_view input, stream_writter_intf* file, std::vector<std::uint8_t>* memory) {
    view_source source(input);
    return lzma_decode(source, file, memory);
}

std::vector<std::uint8_t> lzma_decode(byte_view input) {
    std::vector<std::uint8_t> out;
    lzma_decode(input, nullptr, &out);
    return out;
}

std::vector<std::uint8_t> lzma_encode(std::span<const std::uint8_t> data, std::uint32_t level, bool extreme) {
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, level | (extreme ? LZMA_PRESET_EXTREME : 0)))
        throw std::invalid_argument("unsupported LZMA preset");
    // A dictionary larger than the data buys nothing and costs the reader
    // memory. Readers that sniff the format expect a power of two.
    std::uint32_t dict = LZMA_DICT_SIZE_MIN;
    while (dict < data.size() && dict < options.dict_size) dict <<= 1;
    options.dict_size = std::min(dict, options.dict_size);
    // The size goes into the header, so the data needs no end mark.
    options.ext_flags = 0;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    stream_guard guard;
    if (lzma_raw_encoder(&guard.s, filters) != LZMA_OK) throw std::runtime_error("LZMA encoder set-up failed");
    std::vector<std::uint8_t> out(lzma_header_size + data.size() + data.size() / 2 + 4096);
    out[0] = static_cast<std::uint8_t>((options.pb * 5 + options.lp) * 9 + options.lc);
    for (int i = 0; i < 4; ++i) out[1 + i] = static_cast<std::uint8_t>(options.dict_size >> (8 * i));
    for (int i = 0; i < 8; ++i) out[5 + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(data.size()) >> (8 * i));
    guard.s.next_in = data.empty() ? &no_input : data.data();
    guard.s.avail_in = data.size();
    guard.s.next_out = out.data() + lzma_header_size;
    guard.s.avail_out = out.size() - lzma_header_size;
    for (;;) {
        const lzma_ret ret = lzma_code(&guard.s, LZMA_FINISH);
        if (ret == LZMA_STREAM_END) break;
        if (ret != LZMA_OK) throw std::runtime_error("LZMA encoding failed");
        if (guard.s.avail_out == 0) {
            const std::size_t used = out.size();
            out.resize(used * 2);
            guard.s.next_out = out.data() + used;
            guard.s.avail_out = out.size() - used;
        }
    }
    out.resize(out.size() - guard.s.avail_out);
    return out;
}

}  // namespace qzr::packers
