#include <gtest/gtest.h>

#include <map>
#include <typeinfo>

#include "../support/log_capture.hpp"
#include "../support/pe_image.hpp"
#include "framework/sha256.hpp"
#include "payload_writer.hpp"
#include "veltro_sfx_lib/payload/payload_enumerator.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"

using namespace qzr;
using namespace qzr::sfx;
using qzr::test::make_pe;
using qzr::test::pe_layout;

namespace {

constexpr std::uint16_t pe32 = payload_format::pe32_magic;

std::shared_ptr<files::memory_mapping> mapping_of(std::vector<std::uint8_t> bytes) {
    return std::make_shared<files::memory_mapping>(std::move(bytes));
}

pack::entry_header header(std::string alias, std::string_view content, std::uint32_t flags = 0) {
    pack::entry_header h;
    h.alias = std::move(alias);
    h.flags = flags;
    h.timestamp = 1700000000;
    const auto d = root::sha256::of({reinterpret_cast<const std::uint8_t*>(content.data()), content.size()});
    std::copy(d.begin(), d.end(), h.sha256);
    return h;
}

void add(std::vector<std::uint8_t>& out, const pack::entry_header& h, std::string_view data) {
    pack::append_entry(out, h, {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()});
}

// The failure must be of exactly this kind, with its code and text.
template <class Kind, class F>
void expect_failure(F&& f, std::int32_t code, const std::string& text) {
    try {
        f();
        ADD_FAILURE() << "no error, expected: " << text;
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(typeid(e), typeid(Kind)) << e.what();
        EXPECT_EQ(e.code(), code);
        EXPECT_EQ(std::string(e.what()), text);
    }
}

template <class F>
void expect_error(F&& f, std::int32_t code, const char* text) {
    try {
        f();
        ADD_FAILURE() << "no error, expected: " << text;
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(e.code(), code);
        EXPECT_STREQ(e.what(), text);
    }
}

}  // namespace

TEST(PayloadEnumerator, WalksEntriesInOrder) {
    auto image = make_pe({});
    const std::size_t start = image.size();
    add(image, header("sfx-info.xml", "<sfx-info/>"), "<sfx-info/>");
    add(image, header("", "anonymous"), "anonymous");
    add(image, header("\xC3\xA9t\xC3\xA9.bin", "x", 1), "packed-bytes");
    pack::append_end_entry(image);
    image.insert(image.end(), 72, 0xEE);  // signature block: never read

    payload_enumerator e(mapping_of(image), pe32);
    EXPECT_EQ(e.payload_start(), start);
    ASSERT_TRUE(e.first());
    const file_info* f = e.current();
    EXPECT_EQ(f->alias, L"sfx-info.xml");
    EXPECT_EQ(f->offset, start + 58 + 12);
    EXPECT_EQ(f->size, 11u);
    EXPECT_EQ(f->timestamp, 1700000000u);
    EXPECT_EQ(f->type, 0x46u);
    EXPECT_EQ(f->flags, 0u);
    EXPECT_EQ(f->sha.size(), 64u);
    ASSERT_TRUE(e.next());
    EXPECT_EQ(e.current()->alias, L"");
    EXPECT_EQ(e.current()->offset, start + 58 + 12 + 11 + 58);
    ASSERT_TRUE(e.next());
    EXPECT_EQ(e.current()->alias, L"\u00e9t\u00e9.bin");
    EXPECT_EQ(e.current()->flags, 1u);
    EXPECT_FALSE(e.next());
    EXPECT_EQ(e.current(), nullptr);
    EXPECT_FALSE(e.next());
    ASSERT_TRUE(e.first());  // restartable
    EXPECT_EQ(e.current()->alias, L"sfx-info.xml");
}

TEST(PayloadEnumerator, PayloadStartIsTheEndOfTheFurthestSection) {
    pe_layout l;
    l.sections = {{0x400, 0x100}, {0x200, 0x400}, {0x600, 0x10}};
    auto image = make_pe(l);
    ASSERT_EQ(image.size(), 0x610u);
    pack::append_end_entry(image);
    payload_enumerator e(mapping_of(image), pe32);
    EXPECT_EQ(e.payload_start(), 0x610u);
    EXPECT_FALSE(e.first());  // only the end entry
}

TEST(PayloadEnumerator, NoPayloadAtAll) {
    test::log_capture log;
    payload_enumerator e(mapping_of(make_pe({})), pe32);
    EXPECT_FALSE(e.first());
    EXPECT_TRUE(log.has(log::level_info, "No payload present in file."));
}

TEST(PayloadEnumerator, ImageChecks) {
    test::log_capture log;
    expect_error([] { payload_enumerator(std::shared_ptr<byte_source>(), pe32); }, 87, "file handle is null");
    EXPECT_TRUE(log.has(log::level_error, "payload_enumerator: input handle is nullptr"));
    expect_error([] { payload_enumerator(mapping_of(std::vector<std::uint8_t>(63, 'M')), pe32); }, 5,
                 "Unable to read outside of the mapped view!");
    auto not_mz = make_pe({});
    not_mz[0] = 'N';
    expect_error([&] { payload_enumerator(mapping_of(not_mz), pe32); }, 193, "Missing DOS signature.");
    EXPECT_TRUE(log.has(log::level_error, "File is not PE."));
    auto far_nt = make_pe({});
    test::put32(far_nt, 0x3C, static_cast<std::uint32_t>(far_nt.size() - 100));
    expect_error([&] { payload_enumerator(mapping_of(far_nt), pe32); }, 5, "Unable to read outside of the mapped view!");
    auto no_pe = make_pe({});
    no_pe[0x80] = 'X';
    expect_error([&] { payload_enumerator(mapping_of(no_pe), pe32); }, 193, "Missing NT signature.");
    EXPECT_TRUE(log.has(log::level_error, "File is missing NT signature"));
    pe_layout wide;
    wide.pe32plus = true;
    expect_error([&] { payload_enumerator(mapping_of(make_pe(wide)), pe32); }, 193, "Exe file is not 32-bit.");
    EXPECT_TRUE(log.has(log::level_error, "File is not 32-bit executable."));
    EXPECT_NO_THROW(payload_enumerator(mapping_of(make_pe(wide)), payload_format::pe32plus_magic));
    auto cut = make_pe({});
    cut.resize(0x300);  // section says its data runs to 0x400
    expect_error([&] { payload_enumerator(mapping_of(cut), pe32); }, 193, "Payload starts behind file end.");
    EXPECT_TRUE(log.has(log::level_error, "Payload starts behind file end. File is invalid."));
}

TEST(PayloadEnumerator, BadHeaders) {
    test::log_capture log;
    auto base = make_pe({});
    const std::size_t start = base.size();

    auto cert_only = base;
    cert_only.insert(cert_only.end(), {0x08, 0x02, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00});  // a certificate table
    payload_enumerator a(mapping_of(cert_only), pe32);
    expect_error([&] { a.first(); }, 487, "Header version is not supported");
    EXPECT_TRUE(log.has(log::level_error, "Version 8 is not supported!"));

    auto bad_magic = base;
    add(bad_magic, header("a", "a"), "a");
    bad_magic[start + 1] = 'X';
    payload_enumerator b(mapping_of(bad_magic), pe32);
    expect_error([&] { b.first(); }, 487, "Fail on read payload");
    EXPECT_TRUE(log.has(log::level_error, "Invalid payload, 'APE' expected, 'XPE' got."));
    EXPECT_TRUE(log.has(log::level_error, "Fail on read value 0."));

    auto cut_header = base;
    add(cut_header, header("name", "d"), "d");
    cut_header.resize(start + 40);
    payload_enumerator c(mapping_of(cut_header), pe32);
    expect_error([&] { c.first(); }, 487, "Fail on read payload");
    EXPECT_TRUE(log.has(log::level_error, "Fail on read value 5."));

    auto cut_name = base;
    add(cut_name, header("a-long-name", "d"), "d");
    cut_name.resize(start + 60);
    payload_enumerator d(mapping_of(cut_name), pe32);
    expect_error([&] { d.first(); }, 487, "Fail on read payload");
    EXPECT_TRUE(log.has(log::level_error, "Fail on read value 7."));
}

TEST(PayloadEnumerator, SizesPointingPastTheEndAreCaughtByNext) {
    auto image = make_pe({});
    const std::size_t start = image.size();
    add(image, header("a", "abc"), "abc");
    pack::append_end_entry(image);

    for (std::uint32_t size : {0x1000u, 0xFFFFFFFFu, 0xFFFFFFC0u}) {
        auto bent = image;
        test::put32(bent, start + 20, size);
        payload_enumerator e(mapping_of(bent), pe32);
        ASSERT_TRUE(e.first());
        const file_info before = *e.current();
        // Never wraps around to read earlier bytes as a header.
        expect_error([&] { e.next(); }, 5, "Unable to read outside of the mapped view!");
        EXPECT_EQ(e.current()->alias, before.alias);  // a failed read changes nothing
    }
}

TEST(PayloadEnumerator, EmptyNamesAndInvalidUtf8) {
    auto image = make_pe({});
    const std::size_t start = image.size();
    add(image, header("", "x"), "x");
    add(image, header("a\xFF" "b", "y"), "y");
    pack::append_end_entry(image);
    payload_enumerator e(mapping_of(image), pe32);
    ASSERT_TRUE(e.first());
    EXPECT_EQ(e.current()->alias, L"");
    EXPECT_EQ(e.current()->offset, start + 58);
    ASSERT_TRUE(e.next());
    EXPECT_EQ(e.current()->alias, L"a\uFFFDb");
}

TEST(PayloadEnumerator, OnlyVersionOneIsRead) {
    test::log_capture log;
    auto image = make_pe({});
    const std::size_t start = image.size();
    add(image, header("a", "a"), "a");
    const std::size_t second = image.size();
    add(image, header("b", "b"), "b");
    const std::size_t end_entry = image.size();
    pack::append_end_entry(image);

    for (std::uint8_t version : {0, 2, 0xFF}) {
        auto first_bad = image;
        first_bad[start] = version;
        payload_enumerator e(mapping_of(first_bad), pe32);
        expect_failure<sfx::exceptions::invalid_payload>([&] { e.first(); }, 487, "Header version is not supported");
        EXPECT_TRUE(log.has(log::level_error, "Version " + std::to_string(version) + " is not supported!"));
        EXPECT_EQ(e.current(), nullptr);

        auto second_bad = image;
        second_bad[second] = version;
        payload_enumerator f(mapping_of(second_bad), pe32);
        ASSERT_TRUE(f.first());
        expect_failure<sfx::exceptions::invalid_payload>([&] { f.next(); }, 487, "Header version is not supported");
        ASSERT_NE(f.current(), nullptr);
        EXPECT_EQ(f.current()->alias, L"a") << "a failed read keeps the current entry";

        // The version is checked before the end flag is looked at.
        auto end_bad = image;
        end_bad[end_entry] = version;
        payload_enumerator g(mapping_of(end_bad), pe32);
        ASSERT_TRUE(g.first());
        ASSERT_TRUE(g.next());
        expect_failure<sfx::exceptions::invalid_payload>([&] { g.next(); }, 487, "Header version is not supported");
    }
}

TEST(PayloadEnumerator, TheEndFlagEndsWhateverElseTheFlagsCarry) {
    auto image = make_pe({});
    add(image, header("a", "a"), "a");
    const std::size_t end_entry = image.size();
    pack::append_end_entry(image);

    for (std::uint32_t flags : {0x11u, 0x30u, 0x1Fu, 0xFFFFFFFFu, 0x80000010u}) {
        auto ended = image;
        test::put32(ended, end_entry + 8, flags);
        payload_enumerator e(mapping_of(ended), pe32);
        ASSERT_TRUE(e.first()) << flags;
        EXPECT_FALSE(e.next()) << flags;
        EXPECT_EQ(e.current(), nullptr);
        EXPECT_FALSE(e.next());

        // An entry that looks like a file but carries the end flag ends the
        // payload too: nothing behind its flags is read.
        auto first_ends = make_pe({});
        add(first_ends, header("b", "bytes", flags), "bytes");
        payload_enumerator f(mapping_of(first_ends), pe32);
        EXPECT_FALSE(f.first()) << flags;
        EXPECT_EQ(f.current(), nullptr);
    }

    // Without the end flag the whole value is the reader kind, kept as is.
    for (std::uint32_t flags : {0x20u, 0x0Fu, 0xFFFFFFEFu}) {
        auto kept = make_pe({});
        add(kept, header("c", "c", flags), "c");
        pack::append_end_entry(kept);
        payload_enumerator e(mapping_of(kept), pe32);
        ASSERT_TRUE(e.first()) << flags;
        EXPECT_EQ(e.current()->flags, flags);
        EXPECT_FALSE(e.next());
    }

    // The type field is kept, never interpreted: ':' on a file entry does
    // not end the payload, and 'F' on an end entry does not continue it.
    auto types = make_pe({});
    pack::entry_header odd = header("d", "d");
    odd.type = 0x3A;
    add(types, odd, "d");
    odd.type = 0xFFFFFFFF;
    odd.timestamp = 0xFFFFFFFFFFFFFFFFull;
    add(types, odd, "d");
    const std::size_t last = types.size();
    pack::append_end_entry(types);
    test::put32(types, last + 4, 0x46);
    payload_enumerator t(mapping_of(types), pe32);
    ASSERT_TRUE(t.first());
    EXPECT_EQ(t.current()->type, 0x3Au);
    ASSERT_TRUE(t.next());
    EXPECT_EQ(t.current()->type, 0xFFFFFFFFu);
    EXPECT_EQ(t.current()->timestamp, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_FALSE(t.next());
}

TEST(PayloadEnumerator, EachHeaderFieldIsReadOnlyInsideTheFile) {
    test::log_capture log;
    auto base = make_pe({});
    const std::size_t start = base.size();
    auto full = base;
    add(full, header("name", "data"), "data");

    // Cut exactly where a field begins: reading it is the step that fails.
    const std::pair<std::size_t, int> cuts[] = {{1, 0}, {4, 1}, {8, 2}, {12, 3}, {20, 4}, {24, 5}, {56, 6}, {58, 7}, {61, 7}};
    for (auto [length, step] : cuts) {
        auto cut = full;
        cut.resize(start + length);
        payload_enumerator e(mapping_of(cut), pe32);
        expect_failure<sfx::exceptions::invalid_payload>([&] { e.first(); }, 487, "Fail on read payload");
        EXPECT_TRUE(log.has(log::level_error, "Fail on read value " + std::to_string(step) + "."))
            << "cut after " << length << " header bytes";
    }

    // An end entry is read up to its flags and no further.
    auto short_end = base;
    add(short_end, header("a", "a"), "a");
    const std::size_t end_entry = short_end.size();
    pack::append_end_entry(short_end);
    short_end.resize(end_entry + 12);
    payload_enumerator s(mapping_of(short_end), pe32);
    ASSERT_TRUE(s.first());
    EXPECT_FALSE(s.next());
    short_end.resize(end_entry + 11);
    payload_enumerator s2(mapping_of(short_end), pe32);
    ASSERT_TRUE(s2.first());
    expect_failure<sfx::exceptions::invalid_payload>([&] { s2.next(); }, 487, "Fail on read payload");
    EXPECT_TRUE(log.has(log::level_error, "Fail on read value 2."));

    // A header and name that end exactly at the file end are whole; only the
    // version byte of the entry after them lies outside.
    auto exact = base;
    add(exact, header("name", ""), "");
    payload_enumerator x(mapping_of(exact), pe32);
    ASSERT_TRUE(x.first());
    EXPECT_EQ(x.current()->offset, exact.size());
    EXPECT_EQ(x.current()->size, 0u);
    expect_failure<qzr::exceptions::error>([&] { x.next(); }, 5, "Unable to read outside of the mapped view!");

    // The longest name the 16-bit length allows.
    auto longest = base;
    add(longest, header(std::string(0xFFFF, 'n'), "z"), "z");
    pack::append_end_entry(longest);
    payload_enumerator l(mapping_of(longest), pe32);
    ASSERT_TRUE(l.first());
    EXPECT_EQ(l.current()->alias.size(), 0xFFFFu);
    EXPECT_EQ(l.current()->offset, start + 58 + 0xFFFF);
    EXPECT_FALSE(l.next());
}

namespace {

// A file larger than memory: the given stretches of bytes, zeros between.
class sparse_source final : public byte_source {
public:
    sparse_source(std::uint64_t size, std::map<std::uint64_t, std::vector<std::uint8_t>> parts)
        : size_(size), parts_(std::move(parts)) {}
    std::uint64_t size() const override { return size_; }
    byte_view window(std::uint64_t offset, std::size_t want) override {
        if (offset > size_) throw qzr::exceptions::error(5, "outside");
        std::uint64_t n = std::min<std::uint64_t>({want, size_ - offset, zeros_.size()});
        auto next = parts_.upper_bound(offset);
        if (next != parts_.begin()) {
            const auto& [at, bytes] = *std::prev(next);
            if (offset < at + bytes.size())
                return byte_view(bytes.data() + (offset - at), std::min<std::uint64_t>(n, at + bytes.size() - offset));
        }
        if (next != parts_.end()) n = std::min<std::uint64_t>(n, next->first - offset);
        return byte_view(zeros_.data(), n);
    }

private:
    std::uint64_t size_;
    std::map<std::uint64_t, std::vector<std::uint8_t>> parts_;
    std::vector<std::uint8_t> zeros_ = std::vector<std::uint8_t>(byte_source::min_window);
};

}  // namespace

TEST(PayloadEnumerator, AnEntryWhoseDataWouldLieBeyond4GiBIsAnInvalidPayload) {
    test::log_capture log;
    auto image = make_pe({});
    const std::uint64_t start = image.size();
    add(image, header("a", ""), "");
    // The second header starts just below 4 GiB; its data would start above.
    const std::uint64_t second = (std::uint64_t{1} << 32) - 32;
    test::put32(image, start + 20, static_cast<std::uint32_t>(second - image.size()));
    std::vector<std::uint8_t> tail;
    add(tail, header("b", "b"), "b");
    pack::append_end_entry(tail);
    const std::uint64_t size = second + tail.size();
    payload_enumerator e(std::make_shared<sparse_source>(size, std::map<std::uint64_t, std::vector<std::uint8_t>>{
                                                                   {0, image}, {second, tail}}),
                         pe32);
    ASSERT_TRUE(e.first());
    expect_failure<sfx::exceptions::invalid_payload>([&] { e.next(); }, 487, "Fail on read payload");
    EXPECT_TRUE(log.has(log::level_error, "Fail on read value 8."));
}

TEST(ByteSource, AWalkAsksForWindowsASizeTCanHoldAndNeverForNothing) {
    constexpr std::uint64_t gib4 = std::uint64_t{1} << 32;
    for (const auto [left, asked] : {std::pair<std::uint64_t, std::size_t>{0, 0}, {5, 5},
                                     {byte_source::largest_request, byte_source::largest_request},
                                     {gib4, byte_source::largest_request}, {3 * gib4, byte_source::largest_request}})
        EXPECT_EQ(byte_source::request_for(left), asked) << left;
}
