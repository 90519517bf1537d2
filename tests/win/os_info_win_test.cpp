#include <gtest/gtest.h>

#include <windows.h>

#include "environment/os_info.hpp"

using namespace qzr::environment;

TEST(OsInfoWin, ReadsTheRunningSystem) {
    const auto& os = os_info();
    EXPECT_GE(os.major, 6u);
    EXPECT_EQ(os.native_platform, platform::x64);
    EXPECT_EQ(os.product_type, workstation);
    EXPECT_EQ(&os, &os_info());  // filled once
    const std::wstring text = system_description();
    EXPECT_EQ(text, describe(os));
    EXPECT_EQ(text.substr(0, 8), L"Windows ");
    EXPECT_EQ(text.substr(text.size() - 4), L" x64");
    if (os.major >= 6) EXPECT_NE(os.licensing_product_type, 0u);
}
