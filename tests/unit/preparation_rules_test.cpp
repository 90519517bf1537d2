#include <gtest/gtest.h>

#include "../support/memory_payload.hpp"
#include "../support/silent_reporting.hpp"
#include "framework/utf.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"
#include "veltro_sfx_lib/setup/preparation_rules.hpp"

using namespace qzr;
using namespace qzr::sfx;

namespace {

struct product_journal : test::silent_reporting {
    std::vector<std::tuple<std::wstring, std::wstring, bool>> products;
    void add_main_product(const std::wstring& p, const std::wstring& c, bool reset) override {
        products.emplace_back(p, c, reset);
    }
};

bool splash_for(const std::wstring& switches, bool silent_param = false, bool nosplash_param = false) {
    value_holder params;
    if (silent_param) params.set_bool(keys::silent, true);
    if (nosplash_param) params.set_bool(keys::nosplash, true);
    return splash_wanted(command_line(switches, false), params);
}

}  // namespace

// Progress over three files of 50, 0 and 150 bytes: each file's share on top
// of the earlier ones, capped at 100, and nothing from a file of size 0 or a
// chunk of unknown length.
TEST(PreparationRules, WeightedProgressReachesTheSumOfTheShares) {
    const double total = 200, first = 50 / total * 100, last = 150 / total * 100;
    EXPECT_EQ(weighted_progress(0, first, 0, 50), 0);
    EXPECT_EQ(weighted_progress(0, first, 25, 50), 12);
    EXPECT_EQ(weighted_progress(0, first, 50, 50), 25);
    EXPECT_EQ(weighted_progress(first, 0, 0, 0), 25) << "a file of size 0 adds nothing";
    EXPECT_EQ(weighted_progress(first, last, 75, 150), 62);
    EXPECT_EQ(weighted_progress(first, last, 150, 150), 100);
    EXPECT_EQ(weighted_progress(first, last, 300, 150), 100) << "more than announced still stops at 100";
    EXPECT_EQ(weighted_progress(first, last, 10, 0), 25) << "unknown length: no division by zero";
    EXPECT_EQ(weighted_progress(-5, 10, 0, 1), 0);
}

TEST(PreparationRules, TheSplashShowsUnlessTheRunIsSilentOrTurnsItOff) {
    EXPECT_TRUE(splash_for(L""));
    EXPECT_TRUE(splash_for(L"/silent:with_splash"));
    EXPECT_TRUE(splash_for(L"/SILENT:Stub_Loading"));
    EXPECT_FALSE(splash_for(L"/silent"));
    EXPECT_FALSE(splash_for(L"/silent:quiet"));
    EXPECT_FALSE(splash_for(L"/verysilent"));
    EXPECT_FALSE(splash_for(L"/silent:splash /verysilent"));
    EXPECT_FALSE(splash_for(L"/nosplash"));
    EXPECT_FALSE(splash_for(L"", true)) << "sfx-info's silent";
    EXPECT_FALSE(splash_for(L"/silent:splash", false, true)) << "sfx-info's nosplash";
}

TEST(PreparationRules, EveryProductIsReportedTheFirstOnceAsFirst) {
    product_journal reporting;
    report_products(reporting, {{L"suite", L"beta", L"1.2"}, {L"tool", L"release", L"3.0"}});
    const std::vector<std::tuple<std::wstring, std::wstring, bool>> expected{{L"suite", L"beta", true},
                                                                             {L"tool", L"release", false}};
    EXPECT_EQ(reporting.products, expected);
}

// A setup file is looked up by its digest first; an entry that carries its
// name but another digest text is still found, by name, and extracted.
TEST(PreparationRules, ASetupFileIsFoundByDigestElseByName) {
    test::memory_payload payload;
    payload.by_sha[L"aa11"] = "by digest";
    payload.entries[L"setup.bin"] = "by name";
    payload.entries[L"other.bin"] = "named other";
    EXPECT_EQ(find_setup_file(payload, L"aa11", L"setup.bin")->unpack_data(), (std::vector<std::uint8_t>{
        'b', 'y', ' ', 'd', 'i', 'g', 'e', 's', 't'}));
    EXPECT_EQ(find_setup_file(payload, L"ffff", L"setup.bin")->unpack_data(),
              (std::vector<std::uint8_t>{'b', 'y', ' ', 'n', 'a', 'm', 'e'}));
    EXPECT_EQ(find_setup_file(payload, L"ffff", L"missing.bin"), nullptr);
}

TEST(PreparationRules, NamesThatLeaveTheProductFolder) {
    for (const wchar_t* good : {L"veltro.exe", L"sub\\dir\\file.bin", L"sub/file", L"..file", L"a..\\b"})
        EXPECT_TRUE(is_safe_relative_name(good)) << utf::to_utf8(good);
    for (const wchar_t* bad : {L"", L"..", L"..\\x", L"a\\..\\..\\x", L"a/../x", L"\\abs", L"/abs", L"C:x",
                               L"file.exe:stream", L"\\\\server\\share\\x"})
        EXPECT_FALSE(is_safe_relative_name(bad)) << utf::to_utf8(bad);
}
