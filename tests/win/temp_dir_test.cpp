#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <set>

#include "../support/acl_probe.hpp"
#include "../support/log_capture.hpp"
#include "framework/errors.hpp"
#include "framework/file_writer.hpp"
#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "log/logger.hpp"
#include "net/proxy_settings.hpp"
#include "veltro_sfx_lib/payload/temp_dir.hpp"
#include "win/file_system.hpp"
#include "win/security_descriptor.hpp"

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

// Folders nested in base, ten characters a level, until the next level is
// refused (Wine refuses at the host's path-length limit); removed deepest
// first, after anything the test adds at the end.
struct nested_folders {
    std::vector<std::wstring> levels;
    explicit nested_folders(const std::wstring& base) {
        for (std::wstring next = base; levels.size() < 4000; next = path::join(next, L"nestedfold")) {
            if (!CreateDirectoryW(next.c_str(), nullptr)) break;
            levels.push_back(next);
        }
    }
    ~nested_folders() {
        for (auto it = levels.rbegin(); it != levels.rend(); ++it) RemoveDirectoryW(it->c_str());
    }
};

// The two-letter tokens of an SDDL field ("OICI" -> {"CI", "OI"}).
std::set<std::wstring> tokens(const std::wstring& field) {
    std::set<std::wstring> out;
    for (std::size_t i = 0; i + 1 < field.size(); i += 2) out.insert(field.substr(i, 2));
    return out;
}

DWORD attribute_query_error(const std::wstring& path) {
    SetLastError(0);
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
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

// A run that ended without its clean-up (killed) leaves its folder and an
// unheld run file: the next run removes both. A live run's folder and a
// folder kept on purpose stay.
TEST(TempDir, TheNextRunRemovesWhatAKilledRunLeft) {
    const std::wstring parent = path::join(windows_temp(), L"sweep " + uuid::to_wstring(uuid::random_uuid()));
    ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    const std::wstring killed = path::join(parent, L"qzr-" + uuid::to_wstring(uuid::random_uuid()));
    ASSERT_TRUE(win::create_directories(path::join(killed, L"common\\data")));
    touch(path::join(killed, L"common\\data\\half-written.bin"), FILE_ATTRIBUTE_READONLY);
    touch(killed + L".run");
    const std::wstring no_run_file = path::join(parent, L"qzr-" + uuid::to_wstring(uuid::random_uuid()));
    ASSERT_TRUE(CreateDirectoryW(no_run_file.c_str(), nullptr));
    // Not a name a run gives its folder: whoever made it, it is not ours.
    const std::wstring foreign = path::join(parent, L"qzr-killed");
    ASSERT_TRUE(CreateDirectoryW(foreign.c_str(), nullptr));
    touch(foreign + L".run");

    auto kept = std::make_unique<temp_dir>(false, parent);  // xperf
    const std::wstring kept_folder = kept->path();
    auto live = std::make_unique<temp_dir>(true, parent);
    EXPECT_FALSE(win::exists(killed)) << "removed by the first new run";
    EXPECT_FALSE(win::exists(killed + L".run"));
    EXPECT_TRUE(win::exists(live->path() + L".run"));
    EXPECT_FALSE(CreateFileW((live->path() + L".run").c_str(), DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr) !=
                 INVALID_HANDLE_VALUE)
        << "a live run holds its run file";

    kept.reset();
    EXPECT_TRUE(win::is_directory(kept_folder));
    EXPECT_FALSE(win::exists(kept_folder + L".run")) << "a run that ended well leaves no run file";
    const std::wstring live_folder = live->path();
    {
        temp_dir next(true, parent);
        EXPECT_TRUE(win::is_directory(live_folder)) << "a live run's folder is not touched";
        EXPECT_TRUE(win::is_directory(kept_folder)) << "a folder kept on purpose stays";
        EXPECT_TRUE(win::is_directory(no_run_file)) << "nobody's to say it was abandoned";
        EXPECT_TRUE(win::is_directory(foreign)) << "a run file of a name no run makes";
        EXPECT_TRUE(win::exists(foreign + L".run"));
    }
    live.reset();
    EXPECT_FALSE(win::exists(live_folder));
    EXPECT_FALSE(win::exists(live_folder + L".run"));
    temp_dir::remove(kept_folder);
    temp_dir::remove(parent);
    EXPECT_FALSE(win::exists(parent));
}

TEST(TempDir, RemovingAnEmptyPathIsAnError) {
    EXPECT_THROW(temp_dir::remove(L""), qzr::exceptions::error);
}

TEST(TempDir, AFolderThatCannotBeCreatedReportsItsOwnCreationError) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    nested_folders nested(path::join(tmp, L"deep-" + uuid::to_wstring(uuid::random_uuid())));
    ASSERT_GE(nested.levels.size(), 3u);
    // The parent is missing, so creation goes through every ancestor; the
    // parent itself can be made (a sibling of the deepest level, shorter),
    // the temporary folder inside it cannot.
    const std::wstring parent = path::join(nested.levels[nested.levels.size() - 2], L"x");
    nested.levels.push_back(parent);

    test::log_capture log;
    std::int32_t code = 0;
    try {
        temp_dir dir(true, parent);
        FAIL() << "created " << utf::to_utf8(dir.path());
    } catch (const qzr::exceptions::error& e) {
        EXPECT_STREQ(e.what(), "Create directory fail");
        code = e.code();
    }
    ASSERT_TRUE(win::is_directory(parent)) << "the ancestors were created";
    const std::string head = utf::to_utf8(L"Create directory '" + parent + L"\\qzr-");
    const std::string tail = " fail " + std::to_string(static_cast<std::uint32_t>(code)) + "!";
    std::wstring folder;
    for (const std::string& m : log.messages())
        if (m.rfind(head, 0) == 0 && m.size() > tail.size() && m.compare(m.size() - tail.size(), tail.size(), tail) == 0)
            folder = utf::from_utf8(m.substr(18, m.size() - tail.size() - 19));
    ASSERT_FALSE(folder.empty()) << "the log line carries the folder and the code";

    // The code is the folder's own creation error, not what an attribute
    // query of the same path says about it afterwards.
    SetLastError(0);
    ASSERT_FALSE(CreateDirectoryW(folder.c_str(), nullptr));
    const DWORD own = GetLastError();
    EXPECT_NE(own, 0u);
    EXPECT_EQ(static_cast<DWORD>(code), own);
    ASSERT_NE(attribute_query_error(folder), own) << "this place does not tell the two apart";

    // The helper leaves the same error behind for callers that read it.
    SetLastError(0);
    EXPECT_FALSE(win::create_directories(folder));
    EXPECT_EQ(GetLastError(), own);
}

TEST(TempDir, DescriptorIsProtectedAndGrantsOnlySystemAdministratorsAndUsers) {
    const win::local_memory sd = temp_dir::security_descriptor();
    ASSERT_TRUE(sd);

    // Read back as text: a protected list of exactly three entries.
    LPWSTR raw_text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(sd.get(), SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &raw_text, nullptr));
    const win::local_memory text_owner(raw_text);
    const std::wstring text = raw_text;
    EXPECT_EQ(text.rfind(L"D:P(", 0), 0u) << utf::to_utf8(text);
    std::vector<std::vector<std::wstring>> entries;
    for (std::size_t open = text.find(L'('); open != std::wstring::npos; open = text.find(L'(', open + 1)) {
        const std::size_t close = text.find(L')', open);
        ASSERT_NE(close, std::wstring::npos);
        std::vector<std::wstring> fields(1);
        for (std::size_t i = open + 1; i < close; ++i) {
            if (text[i] == L';') fields.emplace_back();
            else fields.back().push_back(text[i]);
        }
        entries.push_back(fields);
    }
    const std::set<std::wstring> full{L"GA"}, read_execute{L"GR", L"GX"}, inherited{L"OI", L"CI"};
    const struct {
        const wchar_t* trustee;
        const std::set<std::wstring>& rights;
    } wanted[] = {{L"SY", full}, {L"BA", full}, {L"BU", read_execute}};
    ASSERT_EQ(entries.size(), 3u) << utf::to_utf8(text);
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(entries[i].size(), 6u) << utf::to_utf8(text);
        EXPECT_EQ(entries[i][0], L"A");
        EXPECT_EQ(tokens(entries[i][1]), inherited) << utf::to_utf8(text);
        EXPECT_EQ(tokens(entries[i][2]), wanted[i].rights) << utf::to_utf8(text);
        EXPECT_EQ(entries[i][3] + entries[i][4], L"");
        EXPECT_EQ(entries[i][5], wanted[i].trustee);
    }

    // The same list entry by entry, so that a wrong mask shows whatever its
    // text would be.
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(sd.get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sd.get(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, 3);
    PSID owner = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorOwner(sd.get(), &owner, &defaulted));
    EXPECT_EQ(owner, nullptr) << "only an access list is set";
    const struct {
        const wchar_t* sid;
        ACCESS_MASK mask;
    } aces[] = {{L"S-1-5-18", GENERIC_ALL}, {L"S-1-5-32-544", GENERIC_ALL}, {L"S-1-5-32-545", GENERIC_READ | GENERIC_EXECUTE}};
    for (WORD i = 0; i < 3; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) << "inherited by everything inside";
        EXPECT_EQ(ace->Mask, aces[i].mask) << std::hex << ace->Mask;
        wchar_t* sid = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidW(&ace->SidStart, &sid));
        const win::local_memory sid_owner(sid);
        EXPECT_STREQ(sid, aces[i].sid);
    }
}

// proxy.ini and the hand-over file carry the proxy's password and the
// cookie: no ordinary user reads them, though the folder lets users read.
TEST(TempDir, SecretsAreForTheirOwnerAdministratorsAndTheSystemOnly) {
    const win::local_memory sd = win::security_descriptor(win::private_file_sddl);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(sd.get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing comes from the folder";
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sd.get(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl);
    ASSERT_EQ(dacl->AceCount, 3);
    const wchar_t* const sids[] = {L"S-1-5-18", L"S-1-5-32-544", L"S-1-3-4"};
    for (WORD i = 0; i < 3; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS)) << std::hex << ace->Mask;
        wchar_t* sid = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidW(&ace->SidStart, &sid));
        const win::local_memory sid_owner(sid);
        EXPECT_STREQ(sid, sids[i]);
    }

    // Where the file system keeps access lists, the files carry it.
    if (!test::file_system_keeps_dacls()) return;
    temp_dir folder(true, windows_temp());
    const std::wstring info = path::join(folder.path(), L"veltro-info.xml");
    const std::uint8_t text[] = {'<', 'a', '/', '>'};
    files::write_private_file(info, text);
    http::ProxySettings proxy;
    const std::wstring ini = path::join(folder.path(), L"proxy.ini");
    ASSERT_EQ(proxy.save(ini), 0u);
    for (const auto& file : {info, ini})
        EXPECT_EQ(test::folder_dacl(file), L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)") << utf::to_utf8(file);
}
