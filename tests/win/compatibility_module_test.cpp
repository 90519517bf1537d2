#include <gtest/gtest.h>

#include <windows.h>

#include <functional>

#include "../support/log_capture.hpp"
#include "framework/errors.hpp"
#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "veltro_sfx_lib/setup/compatibility_module.hpp"

using namespace qzr;

namespace {

std::wstring fixture_dll() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return path::join(path::parent(std::wstring(buffer, n)), L"veltro_mod_fixture.dll");
}

std::wstring system_dll(const wchar_t* name) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return path::join(system, name);
}

// A verifier with a fixed answer that runs a hook while it "checks": the
// window in which a swapped file would do harm.
struct hooked_verifier : sfx::verify_signature_intf {
    bool answer = true;
    std::function<void(const std::wstring&)> during_check;
    std::vector<std::wstring> checked;
    bool dsa_signed(const std::wstring& path) override {
        checked.push_back(path);
        if (during_check) during_check(path);
        return answer;
    }
    bool dsa_signed_any(const std::wstring&) override { return false; }
    bool dsa_signed_handle(void*) override { return false; }
    bool dsa_signed_block(const std::uint8_t*, std::size_t) override { return false; }
    bool dsa_signed_source(byte_source&) override { return false; }
};

}  // namespace

TEST(CompatibilityModule, AnswersAnotherChannelOrNothing) {
    hooked_verifier verifier;
    SetEnvironmentVariableW(L"VELTRO_MOD_FAIL", nullptr);
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", L"beta");
    EXPECT_EQ(sfx::ask_channel(fixture_dll(), verifier, L"demo", L"release"), L"beta");
    EXPECT_EQ(verifier.checked, std::vector<std::wstring>{fixture_dll()});
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", L"RELEASE");
    EXPECT_EQ(sfx::ask_channel(fixture_dll(), verifier, L"demo", L"release"), L"") << "the same channel in another case";
    const std::wstring long_answer(300, L'x');
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", long_answer.c_str());
    EXPECT_EQ(sfx::ask_channel(fixture_dll(), verifier, L"demo", L"release"), long_answer)
        << "asked again with a larger buffer";
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", nullptr);
}

TEST(CompatibilityModule, FailuresAnswerNothing) {
    test::log_capture log;
    hooked_verifier verifier;
    SetEnvironmentVariableW(L"VELTRO_MOD_FAIL", L"1");
    EXPECT_EQ(sfx::ask_channel(fixture_dll(), verifier, L"demo", L"release"), L"");
    EXPECT_TRUE(log.has("Calling MOD.dll function fail 31"));
    SetEnvironmentVariableW(L"VELTRO_MOD_FAIL", nullptr);
    // A length that would wrap to nothing in 32 bits, or exhaust memory.
    SetEnvironmentVariableW(L"VELTRO_MOD_LENGTH", L"4294967295");
    EXPECT_EQ(sfx::ask_channel(fixture_dll(), verifier, L"demo", L"release"), L"");
    EXPECT_TRUE(log.has(log::level_error, "MOD.dll asks for a buffer of 4294967295 characters"));
    SetEnvironmentVariableW(L"VELTRO_MOD_LENGTH", nullptr);
    EXPECT_EQ(sfx::ask_channel(system_dll(L"version.dll"), verifier, L"demo", L"release"), L"");
    EXPECT_TRUE(log.has(log::level_error, "MOD.dll function not found"));

    // Signed but not a module: it cannot be loaded.
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring not_a_module = path::join(tmp, L"mod-" + uuid::to_wstring(uuid::random_uuid()) + L".dll");
    HANDLE h = CreateFileW(not_a_module.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, "not a module", 12, &written, nullptr);
    CloseHandle(h);
    EXPECT_EQ(sfx::ask_channel(not_a_module, verifier, L"demo", L"release"), L"");
    EXPECT_TRUE(log.has_containing("Loading MOD:'" + utf::to_utf8(not_a_module) + "' fail"));
    DeleteFileW(not_a_module.c_str());
}

TEST(CompatibilityModule, AnUnverifiedOrMissingModuleIsNeverLoaded) {
    test::log_capture log;
    hooked_verifier verifier;
    verifier.answer = false;
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", L"beta");
    try {
        sfx::ask_channel(fixture_dll(), verifier, L"demo", L"release");
        ADD_FAILURE() << "an unverified module was asked";
    } catch (const exceptions::error& e) {
        EXPECT_EQ(std::string(e.what()), "MOD.dll '" + utf::to_utf8(fixture_dll()) + "' is not DSA signed!");
    }
    EXPECT_EQ(GetModuleHandleW(L"veltro_mod_fixture.dll"), nullptr) << "it must not even be mapped";

    verifier.answer = true;
    try {
        sfx::ask_channel(L"C:\\nowhere\\veltro_mod.dll", verifier, L"demo", L"release");
        ADD_FAILURE() << "a missing module answered";
    } catch (const exceptions::error& e) {
        EXPECT_EQ(e.code(), ERROR_PATH_NOT_FOUND);
        EXPECT_STREQ(e.what(), "Open file for DSA check fail!");
    }
    EXPECT_TRUE(log.has(log::level_error, "Open file 'C:\\nowhere\\veltro_mod.dll' for DSA check fail  3!"));
    EXPECT_TRUE(verifier.checked.size() == 1) << "nothing to check when the file cannot be held";
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", nullptr);
}

// Between its check and its loading the module cannot be rewritten, replaced,
// renamed or deleted: the module that answers is the one that was verified.
TEST(CompatibilityModule, TheVerifiedFileIsTheOneLoaded) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring folder = path::join(tmp, L"mod-" + uuid::to_wstring(uuid::random_uuid()));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring module = path::join(folder, L"veltro_mod.dll");
    const std::wstring other = path::join(folder, L"other.dll");
    ASSERT_TRUE(CopyFileW(fixture_dll().c_str(), module.c_str(), TRUE));
    ASSERT_TRUE(CopyFileW(system_dll(L"version.dll").c_str(), other.c_str(), TRUE));

    hooked_verifier verifier;
    std::vector<std::wstring> refused;
    verifier.during_check = [&](const std::wstring& path) {
        const HANDLE w = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        if (w == INVALID_HANDLE_VALUE) refused.push_back(L"write");
        else CloseHandle(w);
        if (!MoveFileExW(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) refused.push_back(L"replace");
        if (!MoveFileExW(path.c_str(), (path + L".moved").c_str(), 0)) refused.push_back(L"rename");
        if (!DeleteFileW(path.c_str())) refused.push_back(L"delete");
    };
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", L"beta");
    EXPECT_EQ(sfx::ask_channel(module, verifier, L"demo", L"release"), L"beta") << "the verified module answered";
    EXPECT_EQ(refused, (std::vector<std::wstring>{L"write", L"replace", L"rename", L"delete"}));
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", nullptr);

    DeleteFileW(module.c_str());
    DeleteFileW((module + L".moved").c_str());
    DeleteFileW(other.c_str());
    RemoveDirectoryW(folder.c_str());
}
