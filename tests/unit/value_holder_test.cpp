#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "veltro_sfx_lib/run/value_holder.hpp"

using qzr::sfx::value_holder;

TEST(ValueHolder, FirstWriterWins) {
    value_holder v;
    v.set(L"k", L"A");
    v.set(L"k", L"B");
    v.set_bool(L"k", true);
    EXPECT_EQ(v.get(L"k", L""), L"A");
    EXPECT_EQ(v.get(L"K", L"default"), L"default");  // keys are exact text
}

TEST(ValueHolder, BooleansAreExactlyOne) {
    value_holder v;
    v.set(L"t", L"true");
    v.set(L"z", L"01");
    v.set_bool(L"y", true);
    v.set_bool(L"n", false);
    EXPECT_FALSE(v.get_bool(L"t", true));
    EXPECT_FALSE(v.get_bool(L"z", true));
    EXPECT_TRUE(v.get_bool(L"y", false));
    EXPECT_EQ(v.get(L"n", L""), L"0");
    EXPECT_TRUE(v.get_bool(L"absent", true));
}

TEST(ValueHolder, IntegersConvertLikeStoi) {
    value_holder v;
    v.set_int(L"a", -2147483647 - 1);
    v.set(L"b", L"  42abc");
    v.set(L"c", L"abc");
    v.set(L"d", L"2147483648");
    v.set(L"e", L"99999999999999999999999");
    EXPECT_EQ(v.get_int(L"a", 0), -2147483647 - 1);
    EXPECT_EQ(v.get_int(L"b", 0), 42);
    EXPECT_EQ(v.get_int(L"absent", 7), 7);
    try {
        v.get_int(L"c", 0);
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "invalid stoi argument");
    }
    try {
        v.get_int(L"d", 0);
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "stoi argument out of range");
    }
    EXPECT_THROW(v.get_int(L"e", 0), std::out_of_range);
}

TEST(ValueHolder, ConcurrentFirstWritesKeepOneValue) {
    value_holder v;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) v.set_int(L"key" + std::to_wstring(i), t);
        });
    for (auto& th : threads) th.join();
    for (int i = 0; i < 200; ++i) {
        const int got = v.get_int(L"key" + std::to_wstring(i), -1);
        EXPECT_GE(got, 0);
        EXPECT_LT(got, 8);
    }
}
