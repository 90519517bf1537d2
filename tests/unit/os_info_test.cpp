#include <gtest/gtest.h>

#include "environment/os_info.hpp"
#include "framework/errors.hpp"

using namespace qzr::environment;

namespace {
os_record os(std::uint32_t major, std::uint32_t minor, std::uint32_t build, std::uint8_t type = workstation,
             std::uint16_t sp = 0, platform p = platform::x64) {
    os_record r;
    r.major = major;
    r.minor = minor;
    r.build = build;
    r.product_type = type;
    r.sp_major = sp;
    r.native_platform = p;
    return r;
}
}  // namespace

TEST(OsDescription, ClientAndServerNames) {
    EXPECT_EQ(describe(os(6, 1, 7601, workstation, 1)), L"Windows 7 SP1 x64");
    EXPECT_EQ(describe(os(6, 0, 6002, workstation, 2, platform::x86)), L"Windows Vista SP2 x86");
    EXPECT_EQ(describe(os(6, 3, 9600, server)), L"Windows Server 2012 R2 x64");
    EXPECT_EQ(describe(os(6, 1, 7601, domain_controller)), L"Windows Server 2008 R2 x64");
    EXPECT_EQ(describe(os(10, 0, 22621)), L"Windows 10 (10.0.22621) x64");
    EXPECT_EQ(describe(os(10, 0, 22621, workstation, 0, platform::arm64)), L"Windows 10 (10.0.22621) arm64");
    EXPECT_EQ(describe(os(10, 0, 14393, server)), L"Windows Server 2016 (10.0.14393) x64");
    EXPECT_EQ(describe(os(10, 0, 20348, server)), L"Windows Server 2019 (10.0.20348) x64");
    EXPECT_EQ(describe(os(6, 4, 9841)), L"Windows 6.4.9841 x64");
    EXPECT_EQ(describe(os(11, 2, 1)), L"Windows 11.2.1 x64");
}

TEST(OsDescription, FivePointTwoVariants) {
    EXPECT_EQ(describe(os(5, 2, 3790, workstation, 2)), L"Windows XP SP2 x64");
    auto home = os(5, 2, 3790, server);
    home.suite_mask = 0x8000;
    bool asked = false;
    EXPECT_EQ(describe(home, [&] { asked = true; return true; }), L"Windows Home Server x64");
    EXPECT_FALSE(asked);
    EXPECT_EQ(describe(os(5, 2, 3790, server), [] { return true; }), L"Windows Server 2003 R2 x64");
    EXPECT_EQ(describe(os(5, 2, 3790, server), [] { return false; }), L"Windows Server 2003 x64");
    EXPECT_EQ(describe(os(5, 1, 2600, workstation, 3, platform::x86)), L"Windows XP SP3 x86");
}

TEST(OsCheck, SevenServicePackOneIsTheFloor) {
    EXPECT_FALSE(is_supported(os(6, 0, 6002, workstation, 2)));
    EXPECT_FALSE(is_supported(os(6, 1, 7600, workstation, 0)));
    EXPECT_TRUE(is_supported(os(6, 1, 7601, workstation, 1)));
    EXPECT_TRUE(is_supported(os(6, 2, 9200)));
    EXPECT_TRUE(is_supported(os(10, 0, 19045)));
    EXPECT_FALSE(is_supported(os(5, 2, 3790, workstation, 2)));
}

TEST(Platform, NamesAndMachineValues) {
    EXPECT_EQ(platform_from_machine(0x014C), platform::x86);
    EXPECT_EQ(platform_from_machine(0xAA64), platform::arm64);
    EXPECT_EQ(platform_name(platform::ia64), L"ia64");
    try {
        platform_from_machine(0x1234);
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_STREQ(e.what(), "Unable to convert image machine (4660) to platform enumeration!");
    }
    EXPECT_THROW(platform_name(static_cast<platform>(9)), qzr::exceptions::error);
}
