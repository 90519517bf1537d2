#include <gtest/gtest.h>

#include <windows.h>

#include "../support/log_capture.hpp"
#include "framework/path.hpp"
#include "veltro_sfx_lib/setup/compatibility_module.hpp"

using namespace qzr;

namespace {
std::wstring fixture_dll() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return path::join(path::parent(std::wstring(buffer, n)), L"veltro_mod_fixture.dll");
}
}  // namespace

TEST(CompatibilityModule, AnswersAnotherChannelOrNothing) {
    SetEnvironmentVariableW(L"VELTRO_MOD_FAIL", nullptr);
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", L"beta");
    EXPECT_EQ(sfx::ask_channel(fixture_dll(), L"demo", L"release"), L"beta");
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", L"RELEASE");
    EXPECT_EQ(sfx::ask_channel(fixture_dll(), L"demo", L"release"), L"") << "the same channel in another case";
    const std::wstring long_answer(300, L'x');
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", long_answer.c_str());
    EXPECT_EQ(sfx::ask_channel(fixture_dll(), L"demo", L"release"), long_answer) << "asked again with a larger buffer";
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", nullptr);
}

TEST(CompatibilityModule, FailuresAnswerNothing) {
    test::log_capture log;
    SetEnvironmentVariableW(L"VELTRO_MOD_FAIL", L"1");
    EXPECT_EQ(sfx::ask_channel(fixture_dll(), L"demo", L"release"), L"");
    EXPECT_TRUE(log.has("Calling MOD.dll function fail 31"));
    SetEnvironmentVariableW(L"VELTRO_MOD_FAIL", nullptr);
    EXPECT_EQ(sfx::ask_channel(L"C:\\nowhere\\veltro_mod.dll", L"demo", L"release"), L"");
    EXPECT_TRUE(log.has_containing("Loading MOD:'C:\\nowhere\\veltro_mod.dll' fail"));
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(sfx::ask_channel(path::join(system, L"version.dll"), L"demo", L"release"), L"");
    EXPECT_TRUE(log.has("MOD.dll function not found"));
}
