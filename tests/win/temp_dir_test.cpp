#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "../support/acl_probe.hpp"
#include "framework/errors.hpp"
#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "log/logger.hpp"
#include "veltro_sfx_lib/payload/temp_dir.hpp"
#include "win/file_system.hpp"

using namespace qzr;
using qzr::sfx::temp_dir;

namespace {

void touch(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written;
    WriteFile(h, "data", 4, &written, nullptr);
    CloseHandle(h);
}

struct captured_lines : log::ISink {
    std::vector<std::string> lines;
    unsigned min_level() const noexcept override { return 0; }
    void write(const log::event& ev, bool) override { lines.push_back(ev.message); }
    bool has(const std::string& text) const { return std::find(lines.begin(), lines.end(), text) != lines.end(); }
};

std::wstring windows_temp() {
    wchar_t dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    return path::join(dir, L"Temp");
}

}  // namespace

TEST(TempDir, CreatedUnderWindowsTempAndRemovedWithEverythingInIt) {
    auto sink = std::make_shared<captured_lines>();
    log::logger()->add_sink(sink);
    std::wstring folder;
    {
        temp_dir dir(true);
        folder = dir.path();
        ASSERT_TRUE(win::is_directory(folder));
        EXPECT_EQ(path::parent(folder), windows_temp());
        const std::wstring name = folder.substr(folder.size() - 40);
        EXPECT_EQ(name.substr(0, 4), L"qzr-");
        EXPECT_TRUE(uuid::has_uuid_shape(name.substr(4)));

        touch(path::join(folder, L"readonly.bin"), FILE_ATTRIBUTE_READONLY);
        const std::wstring nested = path::join(path::join(folder, L"a"), L"b");
        ASSERT_TRUE(win::create_directories(nested));
        touch(path::join(nested, L"deep.txt"));
        touch(path::join(path::join(folder, L"a"), L"mid.txt"));
    }
    EXPECT_FALSE(win::exists(folder));
    const auto deleted = [&](const std::wstring& f) {
        return sink->has(utf::to_utf8(L"SFX temp folder '" + f + L"' deleted."));
    };
    EXPECT_TRUE(deleted(path::join(path::join(folder, L"a"), L"b")));
    EXPECT_TRUE(deleted(path::join(folder, L"a")));
    EXPECT_TRUE(deleted(folder));
    EXPECT_TRUE(sink->has(utf::to_utf8(L"SFX temp folder '" + folder + L"' created.")));
    // Depth first: the innermost folder goes first.
    const auto pos = [&](const std::wstring& f) {
        return std::find(sink->lines.begin(), sink->lines.end(), utf::to_utf8(L"SFX temp folder '" + f + L"' deleted.")) -
               sink->lines.begin();
    };
    EXPECT_LT(pos(path::join(path::join(folder, L"a"), L"b")), pos(folder));
    log::logger()->remove_sinks();
}

TEST(TempDir, KeptWhenNotAskedToDelete) {
    std::wstring folder;
    {
        temp_dir dir(false);
        folder = dir.path();
        touch(path::join(folder, L"kept.txt"));
    }
    EXPECT_TRUE(win::exists(path::join(folder, L"kept.txt")));
    temp_dir::remove(folder);
    EXPECT_FALSE(win::exists(folder));
}

TEST(TempDir, TwoRunsGetTwoFolders) {
    temp_dir a(true), b(true);
    EXPECT_NE(a.path(), b.path());
}

TEST(TempDir, ProtectedAccessListForSystemAdministratorsAndUsers) {
    if (!test::file_system_keeps_dacls()) GTEST_SKIP() << "this file system does not keep access-control lists";
    temp_dir dir(true);
    PSECURITY_DESCRIPTOR sd = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(dir.path().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    &dacl, nullptr, &sd),
              ERROR_SUCCESS);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, 3);
    const wchar_t* sids[] = {L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-32-545"};
    for (WORD i = 0; i < 3; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        wchar_t* text = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidW(&ace->SidStart, &text));
        EXPECT_STREQ(text, sids[i]);
        LocalFree(text);
        const ACCESS_MASK m = ace->Mask;
        if (i < 2) EXPECT_TRUE(m == GENERIC_ALL || (m & FILE_ALL_ACCESS) == FILE_ALL_ACCESS) << std::hex << m;
        else {
            EXPECT_TRUE(m == (GENERIC_READ | GENERIC_EXECUTE) || m == (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE))
                << std::hex << m;
            EXPECT_EQ(m & (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | GENERIC_WRITE | GENERIC_ALL), 0u);
        }
    }
    LocalFree(sd);
}

TEST(TempDir, FileInUseIsLeftForRestartAndOnlyTheFolderIsReported) {
    auto sink = std::make_shared<captured_lines>();
    log::logger()->add_sink(sink);
    temp_dir dir(false);
    const std::wstring busy = path::join(dir.path(), L"busy.dll");
    HANDLE h = CreateFileW(busy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    temp_dir::remove(dir.path());
    EXPECT_TRUE(win::exists(busy));
    EXPECT_TRUE(win::is_directory(dir.path()));
    std::size_t reported = 0;
    for (const auto& line : sink->lines) {
        if (line.find("Could not delete file") != std::string::npos) ADD_FAILURE() << line;
        if (line.rfind("Could not delete directory '" + utf::to_utf8(dir.path()) + "'", 0) == 0) ++reported;
    }
    EXPECT_EQ(reported, 1u);
    CloseHandle(h);
    log::logger()->remove_sinks();
    temp_dir::remove(dir.path());
    EXPECT_FALSE(win::exists(dir.path()));
}

TEST(TempDir, RemovingAnEmptyPathIsAnError) {
    EXPECT_THROW(temp_dir::remove(L""), qzr::exceptions::error);
}
