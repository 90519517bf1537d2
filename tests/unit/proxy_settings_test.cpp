#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/log_capture.hpp"
#include "framework/base64.hpp"
#include "net/ie_proxy_detection.hpp"
#include "net/proxy_settings.hpp"

using namespace qzr;
using http::ProxySettings;

namespace {

std::vector<std::uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

// ASCII text as UTF-16 code units in either byte order, behind the mark.
std::vector<std::uint8_t> utf16_of(std::string_view ascii, bool big_endian) {
    std::vector<std::uint8_t> out{0xFF, 0xFE};
    if (big_endian) std::swap(out[0], out[1]);
    for (const char c : ascii) {
        out.push_back(big_endian ? 0 : static_cast<std::uint8_t>(c));
        out.push_back(big_endian ? static_cast<std::uint8_t>(c) : 0);
    }
    return out;
}

struct fields {
    std::int32_t type, authorization, port;
    std::string name, user, password;
    bool fallback;
    bool operator==(const fields&) const = default;
};
fields fields_of(const ProxySettings& s) {
    return {s.proxy_type, s.authorization, s.port, s.proxy_name, s.user_name, s.user_password, s.fallback};
}

// Key lines before the first section, other sections, comments, a line
// without '=' and a last line without LF; "cMOkc3M=" is "päss" in UTF-8.
constexpr std::string_view sample =
    "Fallback=1\r\n"
    "# Fallback=1\r\n"
    "[Other]\r\n"
    "ProxyType=4\r\n"
    "[ProxySettings]\r\n"
    "; Port=2\r\n"
    "ProxyType=2\r\n"
    "Authorization=1\r\n"
    "Port=3128\r\n"
    "ProxyName=proxy=a\r\n"
    "UserName= user \r\n"
    "no key here\r\n"
    "UserPass=cMOkc3M=\n"
    "[Later]\r\n"
    "Port=1\r\n"
    "[ProxySettings]\r\n"
    "Fallback=0\r";

}  // namespace

TEST(Base64, Rfc4648VectorsAndStrictDecoding) {
    const std::pair<std::string_view, std::string_view> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64::encode(bytes_of(plain)), encoded);
        EXPECT_EQ(base64::decode(encoded), bytes_of(plain)) << encoded;
    }
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(255 - i);
    EXPECT_EQ(base64::decode(base64::encode(all)), all);
    EXPECT_EQ(base64::encode(std::vector<std::uint8_t>{0xFB, 0xFF}), "+/8=");

    for (const std::string_view bad : {"Zg", "Zg=", "Zm9vY", "Z===", "====", "=Zm9", "Zg==Zg==", "Zm=v", "Zm9v\n",
                                       "Zm9-", "Zm9_", "Zm 9", "Zh==", "Zm9=", "\xC3\xA4\xC3\xA4"})
        EXPECT_FALSE(base64::decode(bad)) << bad;
    // Only the view is read, never what follows it.
    EXPECT_FALSE(base64::decode(std::string_view("Zm9vYmFy").substr(0, 6)));
}

TEST(ProxyIni, EveryEncodingReadsAlike) {
    const fields expected{2, 1, 3128, "proxy=a", " user ", "p\xC3\xA4ss", false};
    EXPECT_EQ(fields_of(http::parse_proxy_ini(bytes_of(sample))), expected);
    EXPECT_EQ(fields_of(http::parse_proxy_ini(bytes_of("\xEF\xBB\xBF" + std::string(sample)))), expected);
    EXPECT_EQ(fields_of(http::parse_proxy_ini(utf16_of(sample, false))), expected);
    EXPECT_EQ(fields_of(http::parse_proxy_ini(utf16_of(sample, true))), expected);

    // Non-ASCII text survives UTF-16 in both byte orders, a pair included.
    const std::vector<std::uint8_t> be{0xFE, 0xFF, 0, '[', 0, 'P', 0, 'r', 0, 'o', 0, 'x', 0, 'y', 0, 'S', 0, 'e',
                                       0, 't', 0, 't', 0, 'i', 0, 'n', 0, 'g', 0, 's', 0, ']', 0, '\n', 0, 'U',
                                       0, 's', 0, 'e', 0, 'r', 0, 'N', 0, 'a', 0, 'm', 0, 'e', 0, '=', 0x00, 0xE4,
                                       0xD8, 0x34, 0xDD, 0x1E, 0xDC, 0x00};
    EXPECT_EQ(http::parse_proxy_ini(be).user_name, "\xC3\xA4\xF0\x9D\x84\x9E\xEF\xBF\xBD");
}

TEST(ProxyIni, AbsentOrUnreadableValuesKeepTheirDefaults) {
    const fields defaults{0, 0, 8080, "", "", "", true};
    EXPECT_EQ(fields_of(ProxySettings{}), defaults);
    EXPECT_EQ(fields_of(http::parse_proxy_ini({})), defaults);
    EXPECT_EQ(fields_of(http::parse_proxy_ini(bytes_of("[proxysettings]\nProxyType=2\n[ ProxySettings]\nPort=1\n"))),
              defaults)
        << "section names compare exactly";
    EXPECT_EQ(
        fields_of(http::parse_proxy_ini(bytes_of("Port=1\n#[ProxySettings]\nProxyType=2\n[ProxySettings\nPort=2\n"))),
        defaults)
        << "keys before the first section";
    EXPECT_EQ(fields_of(http::parse_proxy_ini(bytes_of(
                  "[ProxySettings]\nProxyType=two\nAuthorization=\nPort=99999999999\nFallback=x\nUserPass=not base64\n"
                  "ProxyType =5\n"))),
              defaults);
    EXPECT_EQ(http::parse_proxy_ini(bytes_of("[ProxySettings]\nPort= 81x\n")).port, 81);
    EXPECT_EQ(http::parse_proxy_ini(bytes_of("[ProxySettings]\nPort=-1\n")).port, -1) << "ports are not checked";
    EXPECT_EQ(http::parse_proxy_ini(bytes_of("[ProxySettings]\nFallback=7\n")).fallback, true);
    // Only a CR that ends a line goes.
    EXPECT_EQ(http::parse_proxy_ini(bytes_of("[ProxySettings]\r\nProxyName=a\rb\r\n")).proxy_name, "a\rb");
    EXPECT_EQ(http::parse_proxy_ini(bytes_of("[ProxySettings]\r\nProxyName=a\r\r\n")).proxy_name, "a\r");
    EXPECT_EQ(http::read_decimal("2147483647"), 2147483647);
    EXPECT_EQ(http::read_decimal("-2147483648"), -2147483647 - 1);
    EXPECT_FALSE(http::read_decimal("2147483648"));
    EXPECT_FALSE(http::read_decimal("-99999999999999999999999999"));
    EXPECT_FALSE(http::read_decimal("+"));
}

TEST(ProxyIni, SavedBytesAndRoundTrip) {
    ProxySettings s;
    s.proxy_type = 2;
    s.authorization = 2;
    s.port = 3128;
    s.proxy_name = "p1";
    s.user_name = "u";
    s.user_password = "p\xC3\xA4ss";
    s.fallback = false;
    s.reserved = true;
    const char* expected =
        "\r\n[ProxySettings]\r\nProxyType=2\r\nAuthorization=2\r\nPort=3128\r\n"
        "ProxyName=p1\r\nUserName=u\r\nUserPass=cMOkc3M=\r\nFallback=0\r\n";
    EXPECT_EQ(http::serialize_proxy_ini(s), utf16_of(expected, false));

    s.proxy_name = "pr\xC3\xB6xy.example";
    s.user_name = "DOM\\\xE7\x94\xA8\xE6\x88\xB7";
    s.user_password = "\xE2\x82\xAC=;#[x]\xF0\x9D\x84\x9E \r\n";
    s.port = 65535;
    const ProxySettings back = http::parse_proxy_ini(http::serialize_proxy_ini(s));
    EXPECT_EQ(fields_of(back), fields_of(s));
    EXPECT_FALSE(back.reserved) << "the reserved flag is not part of the file";
    s.fallback = true;
    EXPECT_TRUE(http::parse_proxy_ini(http::serialize_proxy_ini(s)).fallback);
}

TEST(ProxyIni, SchemeNamesAndLogTexts) {
    EXPECT_EQ(http::proxy_type_of_scheme(L"HTTP"), 2);
    EXPECT_EQ(http::proxy_type_of_scheme(L"https"), 5);
    EXPECT_EQ(http::proxy_type_of_scheme(L"Socks"), 3);
    EXPECT_EQ(http::proxy_type_of_scheme(L"socks4"), 3);
    EXPECT_EQ(http::proxy_type_of_scheme(L"SOCKS5"), 4);
    for (const wchar_t* other : {L"", L"ftp", L"http ", L"htt", L"httpss", L"socks6"})
        EXPECT_EQ(http::proxy_type_of_scheme(other), 0) << other;

    EXPECT_STREQ(http::proxy_type_log_text(0), L"no proxy");
    EXPECT_STREQ(http::proxy_type_log_text(1), L"Preconfig (use IE settings)");
    EXPECT_STREQ(http::proxy_type_log_text(2), L"HTTP proxy (rfc2616,2617)");
    EXPECT_STREQ(http::proxy_type_log_text(3), L"SOCKS proxy (rfc1928,1929)");
    EXPECT_STREQ(http::proxy_type_log_text(4), L"no proxy");
    EXPECT_STREQ(http::proxy_type_log_text(5), L"no proxy");
    EXPECT_STREQ(http::authorization_log_text(0), L"no authentication");
    EXPECT_STREQ(http::authorization_log_text(1), L"basic");
    EXPECT_STREQ(http::authorization_log_text(2), L"NTLM");
    EXPECT_STREQ(http::authorization_log_text(3), L"no authentication");
}

TEST(IeProxy, FirstUsableEntryWins) {
    struct row {
        const wchar_t* proxy;
        const char* name;
        std::int32_t port;
    };
    const row found[] = {
        {L"http=p1:3128;https=p2:443", "p1", 3128},
        {L"ftp=f:21;p3:8080", "p3", 8080},
        {L"https=p2:443", "p2", 443},
        {L"socks=s:1080;HTTP=http://p4:81", "p4", 81},
        {L"https://p5:1;p6", "p6", 8080},
        {L";=x;http=;:80;p7:", "p7", 8080},
        {L"p8:12ab", "p8", 12},
        {L"p9:x", "p9", 8080},
    };
    for (const auto& r : found) {
        const auto s = http::proxy_from_ie_string(r.proxy);
        ASSERT_TRUE(s) << r.proxy;
        EXPECT_EQ(fields_of(*s), (fields{2, 0, r.port, r.name, "", "", true})) << r.proxy;
    }
    for (const wchar_t* none : {L"", L"socks=s:1080", L"socks5=s:1080;ftp=f:21", L"https=https://p:1", L";;"})
        EXPECT_FALSE(http::proxy_from_ie_string(none)) << none;
}

TEST(IeProxy, DetectionLinesAndTheRecordItReplaces) {
    test::log_capture log;
    ProxySettings s;
    s.user_name = "file-user";
    s.authorization = 1;

    EXPECT_FALSE(http::apply_ie_proxy_string(nullptr, s));
    EXPECT_TRUE(log.has(log::level_debug, "IE proxy settings is not set."));
    EXPECT_FALSE(http::apply_ie_proxy_string(L"", s));
    EXPECT_TRUE(log.has(log::level_info, "The IE proxy settings contains servers: ''."));
    EXPECT_TRUE(log.has(log::level_error, "No proxy server name is defined."));
    EXPECT_FALSE(http::apply_ie_proxy_string(L"socks=s:1080", s));
    EXPECT_TRUE(log.has(log::level_info, "The IE proxy settings contains servers: 'socks=s:1080'."));
    EXPECT_EQ(s.user_name, "file-user") << "nothing found leaves the record alone";

    EXPECT_TRUE(http::apply_ie_proxy_string(L"http=p1:3128;https=p2:443", s));
    EXPECT_EQ(fields_of(s), (fields{2, 0, 3128, "p1", "", "", true}));
}
