#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "framework/digest.hpp"
#include "framework/errors.hpp"
#include "framework/hex.hpp"
#include "framework/md5.hpp"
#include "framework/path.hpp"
#include "framework/sha256.hpp"
#include "framework/text_format.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "framework/version_block.hpp"
#include "framework/xml_path.hpp"

using namespace qzr;

namespace {
std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}
}  // namespace

TEST(Utf, RoundTripsAcrossPlanes) {
    const std::wstring text = L"a\u00e9\u4e2d\U0001F600z";
    const std::string utf8 = utf::to_utf8(text);
    EXPECT_EQ(utf8, "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z");
    EXPECT_EQ(utf::from_utf8(utf8), text);
}

TEST(Utf, InvalidSequencesBecomeReplacementCharacters) {
    // stray continuation, overlong '/', truncated 3-byte sequence, encoded surrogate
    EXPECT_EQ(utf::from_utf8("a\x80" "b"), L"a\uFFFDb");
    EXPECT_EQ(utf::from_utf8("\xC0\xAF"), L"\uFFFD");
    EXPECT_EQ(utf::from_utf8("x\xE4\xB8"), L"x\uFFFD");
    EXPECT_EQ(utf::from_utf8("\xED\xA0\x80"), L"\uFFFD");
    EXPECT_EQ(utf::from_utf8("\xE4\xB8" "A"), L"\uFFFDA");
}

TEST(Utf, CaseInsensitiveSearchFoldsAsciiOnly) {
    EXPECT_EQ(utf::ifind(L"x /VerySilent y", L"/verysilent"), 2u);
    EXPECT_EQ(utf::ifind(L"abc", L"abcd"), std::wstring::npos);
    EXPECT_TRUE(utf::iequals(L"SILENT", L"silent"));
    EXPECT_FALSE(utf::iequals(L"\u00C9", L"\u00E9"));
}

TEST(TextFormat, WindowsIntegerWidthsAndPadding) {
    EXPECT_EQ(text::format(L"%08lx", 0xABCu), L"00000abc");
    EXPECT_EQ(text::format(L"%x", -1), L"ffffffff");
    EXPECT_EQ(text::format(L"%d", 0xFFFFFFFFu), L"-1");
    EXPECT_EQ(text::format(L"%u", -1), L"4294967295");
    EXPECT_EQ(text::format(L"%hu.%hu", 0x12345, 7), L"9029.7");
    EXPECT_EQ(text::format(L"%02hhx", 0x1FF), L"ff");
    EXPECT_EQ(text::format(L"%016llx", 0x1234ULL), L"0000000000001234");
    EXPECT_EQ(text::format(L"[%-5d|%5d]", 42, -42), L"[42   |  -42]");
    EXPECT_EQ(text::format(L"0x%08x (%d)", 44024, 44024), L"0x0000abf8 (44024)");
}

TEST(TextFormat, FixedPointDigitsAreExactlyRounded) {
    // The host's printf rounds the exact binary value half to even; the
    // formatter must give the same digits for every kind of double.
    const auto host = [](double v, int precision) {
        char buf[2048];
        std::snprintf(buf, sizeof buf, "%.*f", precision, v);
        return utf::from_utf8(buf);
    };
    std::vector<double> values{0.0,  -0.0,    0.5,   1.5,    2.5,     0.125, 0.375, 1e-300, 5e-324,
                               1e22, 1.7e308, 0.045, 2.675, 123.456, -9.995, 1e-7,  0.1,    1.0 / 3};
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 3000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        double v;
        std::uint64_t bits = state;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v)) values.push_back(v);
        values.push_back(static_cast<double>(state % 100000000) / 4096.0);  // ties at small precisions
    }
    for (const double v : values)
        for (const int precision : {0, 1, 2, 3, 6, 17, 30}) {
            const std::wstring spec = L"%." + std::to_wstring(precision) + L"f";
            ASSERT_EQ(text::format(spec.c_str(), v), host(v, precision)) << precision;
        }
    EXPECT_EQ(text::format(L"%f", 1.5), L"1.500000");
    EXPECT_EQ(text::format(L"[%6.4lf|%-9.2f|%+.1f|%08.3f]", 3.14159265, 2.5, 2.25, -1.5),
              L"[3.1416|2.50     |+2.2|-001.500]");
    EXPECT_EQ(text::format(L"%f|%f", std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()),
              L"inf|-inf");
}

TEST(TextFormat, DecimalWritesWhatToWstringWrites) {
    constexpr auto i64_min = std::numeric_limits<std::int64_t>::min();
    constexpr auto i64_max = std::numeric_limits<std::int64_t>::max();
    constexpr auto u64_max = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(text::decimal(i64_min), std::to_wstring(i64_min));
    EXPECT_EQ(text::decimal(i64_max), std::to_wstring(i64_max));
    EXPECT_EQ(text::decimal(u64_max), L"18446744073709551615");
    EXPECT_EQ(text::decimal(0), L"0");
    EXPECT_EQ(text::decimal(-1), L"-1");
    EXPECT_EQ(text::decimal(std::numeric_limits<std::int32_t>::min()), L"-2147483648");
    // Narrow types are numbers, never characters; unsigned ones never negative.
    EXPECT_EQ(text::decimal(static_cast<unsigned char>(200)), L"200");
    EXPECT_EQ(text::decimal(static_cast<std::int8_t>(-128)), L"-128");
    EXPECT_EQ(text::decimal(0xFFFFFFFFu), L"4294967295");
}

TEST(TextFormat, StringsOfBothWidthsAndHostileFormats) {
    EXPECT_EQ(text::format(L"'%s' '%s'", std::string("n\xC3\xA9"), std::wstring(L"w")), L"'n\u00e9' 'w'");
    EXPECT_EQ(text::format("%s|%S", L"wide", "narrow"), "wide|narrow");
    EXPECT_EQ(text::format(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
    // Missing arguments print nothing, unknown conversions stay as written.
    EXPECT_EQ(text::format(L"a%sb%dc"), L"abc");
    EXPECT_EQ(text::format(L"%q %% %", 1), L"%q % %");
    EXPECT_EQ(text::format(L"%.3s", L"abcdef"), L"abc");
}

// The fixed paths the stub reads follow path-query rules: every element of
// a name at each step counts, the first in document order wins.
TEST(XmlPath, WalksEveryBranchInDocumentOrder) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(L"<r><a><c>0</c></a><a><b>1</b><b>2</b></a><x><b>no</b></x><a><b>3</b></a></r>"
                                L"<r><a><b>4</b></a></r>"));
    EXPECT_STREQ(xml::first_along(doc, {L"r", L"a", L"b"}).text().get(), L"1");
    std::wstring seen;
    xml::each_along(doc, {L"r", L"a", L"b"}, [&](pugi::xml_node n) {
        seen += n.text().get();
        return true;
    });
    EXPECT_EQ(seen, L"1234");
    seen.clear();
    xml::each_along(doc, {L"r", L"a", L"b"}, [&](pugi::xml_node n) {
        seen += n.text().get();
        return seen.size() < 2;
    });
    EXPECT_EQ(seen, L"12");
    EXPECT_FALSE(xml::first_along(doc, {L"r", L"b"}));
    EXPECT_FALSE(xml::first_along(doc, {L"r", L"a", L"b", L"z"}));

    ASSERT_TRUE(doc.load_string(L"<name>ve<i>l<!--c-->t</i>ro<![CDATA[.exe]]></name>", pugi::parse_default | pugi::parse_comments));
    std::wstring value;
    xml::append_string_value(doc.first_child(), value);
    EXPECT_EQ(value, L"veltro.exe");
}

TEST(Path, ExactlyOneSeparatorAtTheSeam) {
    EXPECT_EQ(path::join(L"C:\\Windows", L"Temp"), L"C:\\Windows\\Temp");
    EXPECT_EQ(path::join(L"C:\\Windows\\", L"Temp"), L"C:\\Windows\\Temp");
    EXPECT_EQ(path::join(L"C:\\Windows\\", L"\\Temp"), L"C:\\Windows\\Temp");
    EXPECT_EQ(path::join(L"C:\\Windows", L"/Temp"), L"C:\\Windows/Temp");
    EXPECT_EQ(path::join(L"C:/x/", L"/y"), L"C:/x/y");
    EXPECT_EQ(path::join(L"", L"Temp"), L"Temp");
    EXPECT_EQ(path::parent(L"C:\\a\\b.log"), L"C:\\a");
    for (const wchar_t* full : {L"C:\\a\\veltro_mod.dll", L"z:/x", L"\\\\server\\share\\m.dll"})
        EXPECT_TRUE(path::is_absolute(full)) << full;
    for (const wchar_t* relative : {L"veltro_mod.dll", L"C:veltro_mod.dll", L"\\x.dll", L"1:\\x", L""})
        EXPECT_FALSE(path::is_absolute(relative)) << relative;
}

TEST(Hex, EncodesAndStrictlyDecodes) {
    const std::uint8_t data[] = {0x00, 0xAB, 0x7F};
    EXPECT_EQ(hex::encode(data), "00ab7f");
    EXPECT_EQ(hex::encode(data, true), "00AB7F");
    EXPECT_EQ(*hex::decode("00aB7f"), std::vector<std::uint8_t>(std::begin(data), std::end(data)));
    EXPECT_FALSE(hex::decode("abc"));
    EXPECT_FALSE(hex::decode("zz"));
}

TEST(Md5, Rfc1321Vectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (auto [in, out] : vectors) EXPECT_EQ(hex::encode(root::md5::of(bytes_of(in))), out) << in;
}

TEST(Sha256, Fips180Vectors) {
    EXPECT_EQ(hex::encode(root::sha256::of(bytes_of(""))),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex::encode(root::sha256::of(bytes_of("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex::encode(root::sha256::of(bytes_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // Fed in odd pieces across block boundaries.
    root::sha256 h;
    const std::string million(1000000, 'a');
    for (std::size_t at = 0; at < million.size();) {
        const std::size_t n = std::min<std::size_t>(at % 97 + 1, million.size() - at);
        h.update(million.data() + at, n);
        at += n;
    }
    EXPECT_EQ(hex::encode(h.finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Uuid, VersionAndVariantBitsAndTextForm) {
    std::uint8_t raw[16];
    for (int i = 0; i < 16; ++i) raw[i] = 0xFF;
    const auto id = uuid::make_v4(std::span<const std::uint8_t, 16>(raw));
    EXPECT_EQ(uuid::to_wstring(id), L"ffffffff-ffff-4fff-bfff-ffffffffffff");
    for (int i = 0; i < 16; ++i) raw[i] = static_cast<std::uint8_t>(i);
    // Data1..Data3 are little-endian in memory, Data4 is a byte string.
    EXPECT_EQ(uuid::to_string(uuid::make_v4(std::span<const std::uint8_t, 16>(raw))),
              "03020100-0504-4706-8809-0a0b0c0d0e0f");
}

TEST(Uuid, RandomIdentifiersAreWellFormedAndDistinct) {
    std::set<std::wstring> seen;
    for (int i = 0; i < 200; ++i) {
        const std::wstring text = uuid::to_wstring(uuid::random_uuid());
        ASSERT_TRUE(uuid::has_uuid_shape(text)) << text.c_str();
        EXPECT_EQ(text[14], L'4');
        EXPECT_NE(std::wstring(L"89ab").find(text[19]), std::wstring::npos);
        EXPECT_EQ(text.find_first_not_of(L"0123456789abcdef-"), std::wstring::npos);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 200u);
    EXPECT_FALSE(uuid::has_uuid_shape(L"{" + *seen.begin() + L"}"));
}

TEST(Errors, MessageCodeAndFallbackText) {
    const exceptions::error e(87, L"bad %s (%d)", L"argument", 3);
    EXPECT_STREQ(e.what(), "bad argument (3)");
    EXPECT_EQ(e.code(), 87);
    EXPECT_STREQ(exceptions::error(5).what(), "Unknown exception");
    EXPECT_EQ(exceptions::error("plain").code(), -1);
    EXPECT_STREQ(exceptions::error(std::wstring(L"\u00e9")).what(), "\xC3\xA9");
}

TEST(Sha256, ProcessorExtensionsGiveTheSameResult) {
    if (!root::sha256_impl::cpu_has_sha_extensions()) GTEST_SKIP() << "no SHA extensions on this processor";
    std::uint32_t seed = 12345;
    for (std::size_t blocks : {1u, 2u, 3u, 17u, 1000u}) {
        std::vector<std::uint8_t> data(blocks * 64);
        for (auto& b : data) b = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
        std::uint32_t a[8] = {1, 2, 3, 4, 5, 6, 7, 0xFFFFFFFF}, b[8];
        std::copy(std::begin(a), std::end(a), b);
        root::sha256_impl::blocks_portable(a, data.data(), blocks);
        root::sha256_impl::blocks_sha_extensions(b, data.data(), blocks);
        EXPECT_TRUE(std::equal(std::begin(a), std::end(a), std::begin(b))) << blocks;
    }
}

TEST(Digest, HexTextRules) {
    const auto d = root::digest::from_hex(L"00aBfF");
    EXPECT_EQ(d.bytes(), (std::vector<std::uint8_t>{0x00, 0xAB, 0xFF}));
    EXPECT_TRUE(root::digest::from_hex(L"").empty());
    EXPECT_TRUE(root::digest::from_hex(L"abc").empty()) << "odd length never matches a real digest";
    try {
        root::digest::from_hex(L"zz");
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "invalid hex_char_value<wchar_t>");
    }
    EXPECT_EQ(root::digest::from_hex(L"0102"), root::digest(std::vector<std::uint8_t>{1, 2}));
    EXPECT_FALSE(root::digest::from_hex(L"0102") == root::digest::from_hex(L"010200"));
    EXPECT_EQ(root::hash_buffer({}).bytes().size(), 32u);
}

namespace {

// A version resource as resource compilers lay it out: each node's length,
// value length (characters for text), type, key, then value and children on
// 32-bit boundaries.
std::vector<std::uint8_t> version_node(const std::u16string& key, const std::vector<std::uint8_t>& value,
                                       std::uint16_t value_length, bool text,
                                       const std::vector<std::vector<std::uint8_t>>& children) {
    std::vector<std::uint8_t> n(6, 0);
    const auto put16 = [&](std::uint16_t v) { n.push_back(v & 0xFF), n.push_back(v >> 8); };
    const auto align = [&] { while (n.size() % 4) n.push_back(0); };
    for (char16_t c : key) put16(c);
    put16(0);
    align();
    n.insert(n.end(), value.begin(), value.end());
    for (const auto& c : children) {
        align();
        n.insert(n.end(), c.begin(), c.end());
    }
    n[0] = n.size() & 0xFF, n[1] = n.size() >> 8, n[2] = value_length & 0xFF, n[3] = value_length >> 8, n[4] = text;
    return n;
}

std::vector<std::uint8_t> text_value(const std::u16string& s) {
    std::vector<std::uint8_t> v;
    for (char16_t c : s) v.push_back(c & 0xFF), v.push_back(c >> 8);
    v.push_back(0), v.push_back(0);
    return v;
}

std::vector<std::uint8_t> sample_version_block() {
    std::vector<std::uint8_t> fixed(52, 0);
    const std::uint8_t head[] = {0xBD, 0x04, 0xEF, 0xFE, 0, 0, 1, 0, 2, 0, 1, 0, 4, 0, 3, 0};  // 1.2.3.4
    std::copy(std::begin(head), std::end(head), fixed.begin());
    const auto string = [](const std::u16string& k, const std::u16string& v) {
        return version_node(k, text_value(v), static_cast<std::uint16_t>(v.size() + 1), true, {});
    };
    const auto other_table = version_node(u"040704b0", {}, 0, true, {string(u"ProductId", u"wrong-table")});
    const auto table = version_node(u"040904B0", {}, 0, true,
                                    {string(u"Comments", u"x"), string(u"ProductId", u"odrano-veltro-sfx")});
    const auto strings = version_node(u"StringFileInfo", {}, 0, true, {other_table, table});
    const auto translation = version_node(u"Translation", {0x09, 0x04, 0xB0, 0x04}, 4, false, {});
    const auto var = version_node(u"VarFileInfo", {}, 0, true, {translation});
    return version_node(u"VS_VERSION_INFO", fixed, 52, false, {strings, var});
}

}  // namespace

TEST(VersionBlock, ReadsTheFixedVersionAndTheFirstTranslationsStringsAndSurvivesEveryCut) {
    const auto block = sample_version_block();
    const byte_view whole(block.data(), block.size());
    EXPECT_EQ(version_block::file_version(whole), (std::array<std::uint16_t, 4>{1, 2, 3, 4}));
    EXPECT_EQ(version_block::string_value(whole, L"ProductId"), L"odrano-veltro-sfx") << "the translation's table";
    EXPECT_EQ(version_block::string_value(whole, L"productid"), L"odrano-veltro-sfx") << "keys ignore case";
    EXPECT_EQ(version_block::string_value(whole, L"ModuleId"), std::nullopt);

    // A block cut anywhere, or one whose first length claims more than
    // there is, is read only as far as it goes.
    for (std::size_t n = 0; n < block.size(); ++n) {
        auto cut = std::vector<std::uint8_t>(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
        if (n >= 2) cut[0] = block[0], cut[1] = block[1];
        const byte_view view(cut.data(), cut.size());
        EXPECT_EQ(version_block::file_version(view), std::nullopt) << n;
        EXPECT_EQ(version_block::string_value(view, L"ProductId"), std::nullopt) << n;
    }
    auto foreign = block;
    foreign[6] = 'X';  // the root is not "VS_VERSION_INFO"
    EXPECT_EQ(version_block::file_version(byte_view(foreign.data(), foreign.size())), std::nullopt);
}
