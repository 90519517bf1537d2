#include <gtest/gtest.h>

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
    EXPECT_TRUE(log.has("No payload present in file."));
}

TEST(PayloadEnumerator, ImageChecks) {
    expect_error([] { payload_enumerator(nullptr, pe32); }, 87, "file handle is null");
    expect_error([] { payload_enumerator(mapping_of(std::vector<std::uint8_t>(63, 'M')), pe32); }, 5,
                 "Unable to read outside of the mapped view!");
    auto not_mz = make_pe({});
    not_mz[0] = 'N';
    expect_error([&] { payload_enumerator(mapping_of(not_mz), pe32); }, 193, "Missing DOS signature.");
    auto far_nt = make_pe({});
    test::put32(far_nt, 0x3C, static_cast<std::uint32_t>(far_nt.size() - 100));
    expect_error([&] { payload_enumerator(mapping_of(far_nt), pe32); }, 5, "Unable to read outside of the mapped view!");
    auto no_pe = make_pe({});
    no_pe[0x80] = 'X';
    expect_error([&] { payload_enumerator(mapping_of(no_pe), pe32); }, 193, "Missing NT signature.");
    pe_layout wide;
    wide.pe32plus = true;
    expect_error([&] { payload_enumerator(mapping_of(make_pe(wide)), pe32); }, 193, "Exe file is not 32-bit.");
    EXPECT_NO_THROW(payload_enumerator(mapping_of(make_pe(wide)), payload_format::pe32plus_magic));
    auto cut = make_pe({});
    cut.resize(0x300);  // section says its data runs to 0x400
    expect_error([&] { payload_enumerator(mapping_of(cut), pe32); }, 193, "Payload starts behind file end.");
}

TEST(PayloadEnumerator, BadHeaders) {
    test::log_capture log;
    auto base = make_pe({});
    const std::size_t start = base.size();

    auto cert_only = base;
    cert_only.insert(cert_only.end(), {0x08, 0x02, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00});  // a certificate table
    payload_enumerator a(mapping_of(cert_only), pe32);
    expect_error([&] { a.first(); }, 487, "Header version is not supported");
    EXPECT_TRUE(log.has("Version 8 is not supported!"));

    auto bad_magic = base;
    add(bad_magic, header("a", "a"), "a");
    bad_magic[start + 1] = 'X';
    payload_enumerator b(mapping_of(bad_magic), pe32);
    expect_error([&] { b.first(); }, 487, "Fail on read payload");
    EXPECT_TRUE(log.has("Invalid payload, 'APE' expected, 'XPE' got."));
    EXPECT_TRUE(log.has("Fail on read value 0."));

    auto cut_header = base;
    add(cut_header, header("name", "d"), "d");
    cut_header.resize(start + 40);
    payload_enumerator c(mapping_of(cut_header), pe32);
    expect_error([&] { c.first(); }, 487, "Fail on read payload");
    EXPECT_TRUE(log.has("Fail on read value 5."));

    auto cut_name = base;
    add(cut_name, header("a-long-name", "d"), "d");
    cut_name.resize(start + 60);
    payload_enumerator d(mapping_of(cut_name), pe32);
    expect_error([&] { d.first(); }, 487, "Fail on read payload");
    EXPECT_TRUE(log.has("Fail on read value 7."));
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
