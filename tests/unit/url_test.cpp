#include <gtest/gtest.h>

#include "framework/errors.hpp"
#include "net/url.hpp"

using namespace qzr;
using net::from_components;

TEST(Url, DefaultPortsBecomeZeroAndPrintWithoutAPort) {
    const auto u = from_components(L"http://h:80/a", L"http", L"h", 80, L"/a", L"");
    EXPECT_EQ(u.port, 0);
    EXPECT_EQ(net::to_string(u), "http://h/a");
    const auto s = from_components(L"https://h:80/a", L"https", L"h", 80, L"/a", L"");
    EXPECT_EQ(s.port, 80) << "80 is not the default of https";
    EXPECT_EQ(net::to_string(s), "https://h:80/a");
    EXPECT_EQ(from_components(L"https://h/", L"https", L"h", 443, L"/", L"").port, 0);
    EXPECT_EQ(net::to_string(from_components(L"x", L"HTTPS", L"h", 443, L"/", L"")), "http://h:443/")
        << "only the scheme spelled https exactly prints as https (and keeps its port)";
}

TEST(Url, PathQueryAndFragment) {
    const auto u = from_components(L"http://h", L"http", L"h", 80, L"", L"");
    EXPECT_EQ(u.path, "");
    EXPECT_EQ(net::to_string(u), "http://h/");
    const auto q = from_components(L"http://h/p?a=1&b=2#frag", L"http", L"h", 8080, L"/p", L"?a=1&b=2#frag");
    EXPECT_EQ(q.query, "a=1&b=2");
    EXPECT_EQ(net::to_string(q), "http://h:8080/p?a=1&b=2");
    EXPECT_EQ(from_components(L"http://h/p?", L"http", L"h", 80, L"/p", L"?").query, "");
    EXPECT_EQ(from_components(L"http://h/p#f", L"http", L"h", 80, L"/p", L"#f").query, "");
    EXPECT_EQ(net::to_string(from_components(L"x", L"http", L"h", 80, L"rel", L"")), "http://h/rel");
    EXPECT_EQ(from_components(L"x", L"http", L"h\u00e9", 80, L"/\u00fc", L"").host, "h\xc3\xa9") << "UTF-8 parts";
}

TEST(Url, MissingSchemeOrHost) {
    try {
        from_components(L"//h/p", L"", L"h", 0, L"/p", L"");
        FAIL();
    } catch (const exceptions::error& e) {
        EXPECT_EQ(e.code(), 87);
        EXPECT_STREQ(e.what(), "Unable to crack the URL '//h/p' into components! Scheme is missing.");
    }
    try {
        from_components(L"http:///p", L"http", L"", 80, L"/p", L"");
        FAIL();
    } catch (const exceptions::error& e) {
        EXPECT_EQ(e.code(), 87);
        EXPECT_STREQ(e.what(), "Unable to crack the URL 'http:///p' into components! Hostname is missing.");
    }
}
