#include <gtest/gtest.h>

#include <lzma.h>

#include <random>

#include "../support/scribbling_source.hpp"
#include "framework/lzma_codec.hpp"

using namespace qzr;
using namespace qzr::packers;

namespace {

std::vector<std::uint8_t> sample(std::size_t n, unsigned seed = 1) {
    // Compressible but not trivial: words from a small alphabet with noise.
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng() % 7 == 0 ? rng() : 'a' + rng() % 5);
    return v;
}

// An .lzma stream as the classic encoders write it: unknown size, end mark.
std::vector<std::uint8_t> alone_with_end_mark(const std::vector<std::uint8_t>& data) {
    lzma_options_lzma opt;
    lzma_lzma_preset(&opt, 6);
    lzma_stream s = LZMA_STREAM_INIT;
    EXPECT_EQ(lzma_alone_encoder(&s, &opt), LZMA_OK);
    std::vector<std::uint8_t> out(data.size() * 2 + 1024);
    s.next_in = data.data();
    s.avail_in = data.size();
    s.next_out = out.data();
    s.avail_out = out.size();
    EXPECT_EQ(lzma_code(&s, LZMA_FINISH), LZMA_STREAM_END);
    out.resize(out.size() - s.avail_out);
    lzma_end(&s);
    return out;
}

// Stands in for a file: records writes and size changes.
struct recording_file : stream_writter_intf {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint64_t> sizes;
    std::size_t writes = 0;
    void write(const std::uint8_t* d, std::size_t n) override {
        bytes.insert(bytes.end(), d, d + n);
        ++writes;
    }
    void set_size(std::uint64_t n) override { sizes.push_back(n); }
};

template <class F>
void expect_error(F&& f, std::int32_t code, const char* text) {
    try {
        f();
        ADD_FAILURE() << "no error, expected: " << text;
    } catch (const exceptions::error& e) {
        EXPECT_EQ(e.code(), code);
        EXPECT_STREQ(e.what(), text);
    }
}

}  // namespace

TEST(Lzma, RoundTripsAcrossSizes) {
    for (std::size_t n : {0u, 1u, 13u, 4095u, 65536u, (1u << 20) + 17, (3u << 20) + 5}) {
        const auto data = sample(n, static_cast<unsigned>(n));
        const auto packed = lzma_encode(data, 6);
        const auto header = read_lzma_header(byte_view(packed));
        EXPECT_TRUE(header.size_known);
        EXPECT_EQ(header.uncompressed_size, n);
        EXPECT_EQ(lzma_decode(byte_view(packed)), data) << n;
    }
}

TEST(Lzma, FileOutputIsPresizedAndWrittenInChunks) {
    const auto data = sample((5u << 20) + 3);
    const auto packed = lzma_encode(data, 1);
    recording_file file;
    std::vector<std::uint8_t> memory;
    EXPECT_EQ(lzma_decode(byte_view(packed), &file, &memory), data.size());
    EXPECT_EQ(file.bytes, data);
    EXPECT_EQ(memory, data);
    EXPECT_EQ(file.sizes, std::vector<std::uint64_t>{data.size()});  // pre-sized once, nothing to fix afterwards
    EXPECT_GE(file.writes, 5u);
}

TEST(Lzma, UnknownSizeWithAndWithoutEndMark) {
    const auto data = sample(300000);
    const auto classic = alone_with_end_mark(data);
    EXPECT_FALSE(read_lzma_header(byte_view(classic)).size_known);
    recording_file file;
    EXPECT_EQ(lzma_decode(byte_view(classic), &file, nullptr), data.size());
    EXPECT_EQ(file.bytes, data);
    // Not pre-sized; cut to what was written at the end.
    EXPECT_EQ(file.sizes, std::vector<std::uint64_t>{data.size()});

    auto no_mark = lzma_encode(data, 6);
    std::fill(no_mark.begin() + 5, no_mark.begin() + 13, 0xFF);
    EXPECT_EQ(lzma_decode(byte_view(no_mark)), data);
}

TEST(Lzma, KnownSizeWithAnEndMarkBehindIt) {
    const auto data = sample(70000);
    auto packed = alone_with_end_mark(data);
    for (int i = 0; i < 8; ++i) packed[5 + i] = static_cast<std::uint8_t>(data.size() >> (8 * i));
    EXPECT_EQ(lzma_decode(byte_view(packed)), data);
}

TEST(Lzma, HostileStreams) {
    const auto data = sample(200000);
    const auto packed = lzma_encode(data, 6);

    expect_error([&] { lzma_decode(byte_view(packed.data(), 12)); }, 13, "Unable to read LZMA header!");

    auto props = packed;
    props[0] = 225;
    expect_error([&] { lzma_decode(byte_view(props)); }, 4, "Unable to allocate LZMA context!");

    auto cut = packed;
    cut.resize(cut.size() / 2);
    recording_file file;
    expect_error([&] { lzma_decode(byte_view(cut), &file, nullptr); }, 1, "The LZMA stream has ended prematurely!");

    auto corrupt = packed;
    corrupt[13] = 0xFF;  // the range coder's first byte is always zero
    try {
        lzma_decode(byte_view(corrupt));
        ADD_FAILURE() << "corrupt data decoded";
    } catch (const exceptions::error& e) {
        EXPECT_STREQ(e.what(), "Unable to decompress LZMA stream!");
        EXPECT_EQ(e.code(), LZMA_DATA_ERROR);
    }

    // A tiny dictionary in the header is raised to 4 KiB, not refused.
    auto small_dict = lzma_encode(sample(3000), 0);
    std::fill(small_dict.begin() + 1, small_dict.begin() + 5, 0);
    EXPECT_EQ(lzma_decode(byte_view(small_dict)).size(), 3000u);

    // A header that announces far more than the data holds does not make us
    // allocate it, and ends as a premature end.
    auto boast = lzma_encode(sample(1000), 6);
    const std::uint64_t huge = 1ull << 40;
    for (int i = 0; i < 8; ++i) boast[5 + i] = static_cast<std::uint8_t>(huge >> (8 * i));
    expect_error([&] { lzma_decode(byte_view(boast)); }, 1, "The LZMA stream has ended prematurely!");
}

// Thirteen bytes and nothing behind them: the decoder runs without ever
// having been given input (clang's UBSan caught liblzma advancing a null
// input pointer here).
TEST(Lzma, HeaderWithoutData) {
    std::vector<std::uint8_t> header = lzma_encode({}, 6);
    header.resize(lzma_header_size);
    EXPECT_TRUE(lzma_decode(byte_view(header)).empty());

    header[5] = 5;  // announces five bytes
    recording_file file;
    expect_error([&] { lzma_decode(byte_view(header), &file, nullptr); }, 1, "The LZMA stream has ended prematurely!");

    std::fill(header.begin() + 5, header.end(), 0xFF);  // unknown size, no end mark
    std::vector<std::uint8_t> memory;
    EXPECT_EQ(lzma_decode(byte_view(header), nullptr, &memory), 0u);
    EXPECT_TRUE(memory.empty());
}

// Input read a window at a time, as files are: every way a stream can end
// must come out as it does from one block of memory.
TEST(Lzma, InputReadAWindowAtATime) {
    // Noise barely compresses (many windows of input); the run of zeros
    // between fits one window but decodes to more than the decoder's output
    // chunk, so a window is left half-used.
    std::mt19937 rng(9);
    std::vector<std::uint8_t> noise(600000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
    noise.insert(noise.begin() + 300000, 3u << 20, 0);
    const auto packed = lzma_encode(noise, 0);
    ASSERT_GT(packed.size(), 8 * byte_source::min_window);

    test::scribbling_source known{byte_view(packed)};
    recording_file file;
    EXPECT_EQ(lzma_decode(known, &file, nullptr), noise.size());
    EXPECT_EQ(file.bytes, noise);
    EXPECT_GT(known.calls(), 8);

    const auto marked = alone_with_end_mark(noise);
    test::scribbling_source end_mark{byte_view(marked)};
    std::vector<std::uint8_t> memory;
    lzma_decode(end_mark, nullptr, &memory);
    EXPECT_EQ(memory, noise);

    auto unmarked = packed;  // unknown size and no end mark: the input's end ends it
    std::fill(unmarked.begin() + 5, unmarked.begin() + 13, 0xFF);
    test::scribbling_source no_mark{byte_view(unmarked)};
    memory.clear();
    lzma_decode(no_mark, nullptr, &memory);
    EXPECT_EQ(memory, noise);

    const std::vector<std::uint8_t> cut(packed.begin(), packed.begin() + static_cast<long>(packed.size() * 3 / 4));
    test::scribbling_source short_input{byte_view(cut)};
    expect_error([&] { lzma_decode(short_input, &file, nullptr); }, 1, "The LZMA stream has ended prematurely!");

    const std::vector<std::uint8_t> header_only(packed.begin(), packed.begin() + 12);
    test::scribbling_source no_header{byte_view(header_only)};
    expect_error([&] { lzma_decode(no_header, &file, nullptr); }, 13, "Unable to read LZMA header!");
}
