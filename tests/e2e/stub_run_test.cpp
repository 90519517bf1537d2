// Whole runs of the stub under Wine: exit codes, the log, the temporary
// folder and the hand-over file.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <winhttp.h>

#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include <pugixml.hpp>

#include "../support/acl_probe.hpp"
#include "../support/held_file.hpp"
#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "net/simple_http_wrapper.hpp"
#include "net/url.hpp"
#include "stub_harness.hpp"
#include "veltro_sfx_lib/payload/temp_dir.hpp"
#include "win/file_system.hpp"

using namespace qzr;
using namespace qzr::e2e;

namespace {

bool has_message(const run_result& r, const std::string& message) {
    const auto lines = log_messages(r.log);
    return std::find(lines.begin(), lines.end(), message) != lines.end();
}

bool has_message_starting(const run_result& r, const std::string& prefix) {
    for (const auto& m : log_messages(r.log))
        if (m.rfind(prefix, 0) == 0) return true;
    return false;
}

// The folder a run created, from its log.
std::wstring created_folder(const run_result& r) {
    static const std::regex created("SFX temp folder '(.*)' created\\.");
    for (const auto& m : log_messages(r.log)) {
        std::smatch match;
        if (std::regex_match(m, match, created)) return utf::from_utf8(match[1].str());
    }
    return {};
}

struct hand_over {
    pugi::xml_document doc;
    std::vector<std::wstring> children;
    std::wstring text(const wchar_t* name) const { return doc.document_element().child(name).text().get(); }
};

std::unique_ptr<hand_over> read_hand_over(const std::wstring& folder) {
    auto h = std::make_unique<hand_over>();
    const std::string bytes = read_file(path::join(folder, L"veltro-info.xml"));
    if (!h->doc.load_buffer(bytes.data(), bytes.size())) return nullptr;
    for (auto child : h->doc.document_element().children()) h->children.emplace_back(child.name());
    return h;
}

}  // namespace

TEST(StubRun, AFailedRunEndsWithItsCodeAndCleansUp) {
    // signed.exe carries no product-info, and the repository cannot be
    // reached: the download failure ends the run.
    const auto before = temp_folders();
    const run_result r = run_stub(L"/silent", packed_stub(L"signed"));
    ASSERT_FALSE(r.timed_out) << "a message box or a hang: /silent must show nothing";
    EXPECT_EQ(r.exit_code, 44002u);

    ASSERT_EQ(r.log.substr(0, 3), "\xEF\xBB\xBF");
    static const std::regex header(
        R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[(debug  |block  |info   |fnction|notice |warning|thread |error  |fatal  )\] )"
        R"(\[(vsfx|log_module) *\] \[[ \d]{5}:[ \d]{5}\] \[[0-9A-F]{6}:[ \d]{4}\] .*)");
    std::size_t lines = 0;
    std::size_t at = 3;
    while (at < r.log.size()) {
        const auto end = r.log.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
        const std::string line = r.log.substr(at, end - at);
        EXPECT_TRUE(std::regex_match(line, header) || line.rfind(std::string(78, ' '), 0) == 0) << line;
        at = end + 2;
        ++lines;
    }
    EXPECT_GT(lines, 8u);

    EXPECT_TRUE(has_message_starting(r, "*** Starting SFX (1.0.0.1), System(Windows "));
    EXPECT_TRUE(has_message_starting(r, "    launched by:'"));
    EXPECT_TRUE(has_message(r, "SFX started with command line '/silent'"));
    EXPECT_TRUE(has_message(r, "The product-info.xml 'demo/release.xml' has not been found in SFX, fail!"));
    EXPECT_TRUE(has_message(r, "*** Ending SFX after exception (44002, abe2) ***"));
    EXPECT_TRUE(has_message(r, "LogModule is going to be destroyed."));
    EXPECT_TRUE(has_message(r, std::string(117, '=')));

    const std::wstring folder = created_folder(r);
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(path::parent(folder), windows_temp());
    EXPECT_TRUE(has_message(r, "SFX temp folder '" + utf::to_utf8(folder) + "' deleted."));
    EXPECT_FALSE(win::exists(folder));
    EXPECT_EQ(temp_folders(), before);
}

// The installer usually starts from a Downloads folder, where anyone may
// have left DLLs named as system DLLs. Under Wine's default a DLL Wine has
// built in is never taken from the application's folder, so the installer's
// own settings tell Wine to prefer such a DLL found on the search path, as
// Windows does. (version.dll is not planted: Wine's own user32 imports it,
// which the system's does not, so under Wine it comes from the search path
// whatever the stub imports; the import check of the images covers it.)
TEST(StubRun, DllsPlantedBesideTheInstallerAreNeverLoaded) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring downloads = path::join(tmp, L"downloads-" + uuid::to_wstring(uuid::random_uuid()));
    ASSERT_TRUE(win::create_directories(downloads));
    const std::wstring installer = path::join(downloads, L"setup.exe");
    ASSERT_TRUE(CopyFileW(stub_path().c_str(), installer.c_str(), FALSE));
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring planted = path::join(path::parent(std::wstring(self, n)), L"planted_dll.dll");
    const wchar_t* const names[] = {L"winhttp.dll", L"gdiplus.dll"};
    for (const wchar_t* name : names) ASSERT_TRUE(CopyFileW(planted.c_str(), path::join(downloads, name).c_str(), FALSE));

    const std::wstring settings = L"Software\\Wine\\AppDefaults\\setup.exe";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (settings + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring native_first = L"native,builtin";
    for (const wchar_t* name : {L"winhttp", L"gdiplus"})
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(native_first.c_str()),
                       static_cast<DWORD>((native_first.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    const run_result r = run_stub(L"/silent /offline", installer);
    RegDeleteTreeW(HKEY_CURRENT_USER, settings.c_str());
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0u) << "the installation goes on as it would without them";
    for (const wchar_t* name : names) {
        const std::wstring dll = path::join(downloads, name);
        EXPECT_FALSE(win::exists(dll + L".loaded")) << utf::to_utf8(name) << " was loaded from the installer's folder";
        DeleteFileW((dll + L".loaded").c_str());
        DeleteFileW(dll.c_str());
    }
    DeleteFileW(installer.c_str());
    RemoveDirectoryW(downloads.c_str());
}

TEST(StubRun, XperfKeepsAProtectedFolderWithTheHandOverFile) {
    const run_result r = run_stub(L"/silent /xperf /offline /custom:\"a b\"");
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0u);
    const std::wstring folder = created_folder(r);
    ASSERT_TRUE(win::is_directory(folder));

    if (test::file_system_keeps_dacls()) {
        const std::wstring dacl = test::folder_dacl(folder);
        EXPECT_EQ(dacl.rfind(L"D:P", 0), 0u) << "inherits nothing from its parent";
        for (const wchar_t* who : {L";;;SY)", L";;;BA)", L";;;BU)"}) EXPECT_NE(dacl.find(who), std::wstring::npos);
    }

    const auto info = read_hand_over(folder);
    ASSERT_TRUE(info);
    EXPECT_EQ(std::wstring(info->doc.document_element().name()), L"veltro-info");
    EXPECT_EQ(info->children, (std::vector<std::wstring>{L"file-list", L"file-mapping-sfx", L"sfx-cmd", L"session-id",
                                                          L"temp-base-dir", L"products", L"repository", L"title",
                                                          L"title"}));
    // Kept for the host-side check with an independent XML parser.
    CopyFileW(path::join(folder, L"veltro-info.xml").c_str(), path::join(path::parent(stub_path()), L"last-veltro-info.xml").c_str(),
              FALSE);
    EXPECT_EQ(info->text(L"sfx-cmd"), L"/silent /xperf /offline \"/custom:a b\"");
    EXPECT_TRUE(uuid::has_uuid_shape(info->text(L"session-id")));
    EXPECT_EQ(info->text(L"temp-base-dir"), folder);
    EXPECT_TRUE(has_message(r, "Skipping temp folder (" + utf::to_utf8(folder) + ") delete"));

    sfx::temp_dir::remove(folder);
    EXPECT_FALSE(win::exists(folder));
}

TEST(StubRun, ClientIdentifierAndInnoSwitchesReachTheRun) {
    const std::wstring ga = L"7c9e6679-7425-40de-944b-e07fc1f90ae7";
    const run_result r = run_stub(L"/SILENT /xperf /offline /track-guid:{0f8fad5b-d9cb-469f-a165-70867728950e} /ga_clientid:" +
                                  ga + L" /DIR=C:\\x /LANG=L1031");
    ASSERT_FALSE(r.timed_out);
    const std::wstring folder = created_folder(r);
    const auto info = read_hand_over(folder);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->text(L"session-id"), ga);
    // The braced track-guid was refused and removed; ga_clientid became
    // track-guid; INNO folder and language switches were converted.
    EXPECT_EQ(info->text(L"sfx-cmd"),
              L"/SILENT /xperf /offline /track-guid:" + ga + L" /install-path:C:\\x /lang-id:1031");
    sfx::temp_dir::remove(folder);
}

TEST(StubRun, VistaIsRefusedWithoutABoxWhenSilent) {
    const std::wstring exe = stub_copy(L"vista_sfx.exe");
    set_reported_version(L"vista_sfx.exe", L"vista");
    const auto before = temp_folders();
    const run_result r = run_stub(L"/verysilent", exe);
    DeleteFileW(exe.c_str());
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 45056u);
    EXPECT_TRUE(has_message_starting(r, "This operating system (6.0."));
    EXPECT_TRUE(has_message(r, "*** Ending SFX after exception (45056, b000) ***"));
    EXPECT_FALSE(has_message_starting(r, "SFX started"));
    EXPECT_EQ(temp_folders(), before);
}

TEST(StubRun, TheStubRefusesToRunUnlessItsOwnSignatureVerifies) {
    const auto before = temp_folders();
    for (const wchar_t* name : {L"bare", L"tampered", L"wrong_key"}) {
        const run_result r = run_stub(L"/silent", packed_stub(name));
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_code, 44024u) << utf::to_utf8(name);
        EXPECT_TRUE(has_message(r, "SFX is not DSA signed!"));
        EXPECT_TRUE(has_message(r, "*** Ending SFX after exception (44024, abf8) ***"));
        EXPECT_FALSE(has_message_starting(r, "SFX temp folder")) << "nothing is prepared";
        EXPECT_FALSE(has_message_starting(r, "Data file sha=")) << "the payload is not read";
    }
    EXPECT_EQ(temp_folders(), before);
    const run_result v2 = run_stub(L"/silent", packed_stub(L"signed_v2"));
    EXPECT_EQ(v2.exit_code, 44002u) << "a version 2 signature verifies too: the run goes on to its products";
}

TEST(StubRun, HandOverListsThePayloadAndTheInheritableHandle) {
    const run_result r = run_stub(L"/silent /xperf /offline");
    ASSERT_FALSE(r.timed_out);
    const std::wstring folder = created_folder(r);
    const auto info = read_hand_over(folder);
    ASSERT_TRUE(info);
    const auto root = info->doc.document_element();
    std::vector<std::wstring> aliases;
    for (auto file : root.child(L"file-list").children(L"file")) {
        aliases.emplace_back(file.child(L"alias").text().get());
        EXPECT_EQ(std::wstring(file.child(L"sha-256").text().get()).size(), 64u);
        EXPECT_EQ(file.child(L"timestamp").text().as_ullong(), 1700000000u);
    }
    EXPECT_EQ(aliases, (std::vector<std::wstring>{L"sfx-info.xml", L"demo/release.xml", L"", L"", L"sub/x.edat",
                                                  L"../escape.edat"}));
    auto third = root.child(L"file-list").first_child().next_sibling().next_sibling();
    EXPECT_EQ(third.child(L"flags").text().as_uint(), 1u);

    // The entry's bytes sit at the listed offset of the stub's own file.
    const std::string stub = read_file(stub_path());
    auto first = root.child(L"file-list").first_child();
    const std::string info_xml = stub.substr(first.child(L"offset").text().as_uint(), first.child(L"size").text().as_uint());
    EXPECT_EQ(info_xml.rfind("<?xml", 0), 0u);

    const std::wstring handle = root.child(L"file-mapping-sfx").child(L"handle").text().get();
    EXPECT_GE(handle.size(), 8u);
    EXPECT_EQ(handle.find_first_not_of(L"0123456789ABCDEF"), std::wstring::npos);
    EXPECT_EQ(root.child(L"file-mapping-sfx").child(L"size").text().as_ullong(), stub.size());
    EXPECT_TRUE(has_message_starting(r, "Data file sha='"));
    sfx::temp_dir::remove(folder);
}

TEST(StubRun, TheDescriptionMustBePresentSignedAndWellFormed) {
    const run_result missing = run_stub(L"/silent", packed_stub(L"no_info"));
    EXPECT_EQ(missing.exit_code, 44051u);
    EXPECT_TRUE(has_message(missing, "Mandatory file 'sfx-info.xml' is missing in payload."));
    const run_result foreign = run_stub(L"/silent", packed_stub(L"foreign_info"));
    EXPECT_EQ(foreign.exit_code, 0xFFFFFFFFu) << "the general error without a code";
    EXPECT_TRUE(has_message(foreign, "DSA verification check of file 'sfx-info.xml' fail!"));
    const run_result broken = run_stub(L"/silent", packed_stub(L"broken_info"));
    EXPECT_EQ(broken.exit_code, 44051u);
    EXPECT_TRUE(has_message_starting(broken, "Failed to parse xml file 'sfx-info.xml', '"));
}

TEST(StubRun, OfflineInstallationFromThePayload) {
    const auto before = temp_folders();
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring record = path::join(tmp, L"master-command-line.txt");
    DeleteFileW(record.c_str());
    const run_result r = run_stub(L"/silent /offline \"/record:" + record + L"\" /exit:1234", packed_stub(L"install"));
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 1234u) << "the setup master's exit code is the stub's";
    const std::string line = read_file(record);
    const std::wstring folder = created_folder(r);
    const std::string common = utf::to_utf8(path::join(folder, L"common"));
    EXPECT_EQ(line.rfind(common + "\\veltro.exe /from-product-info /veltro-info-path:", 0), 0u) << line;
    EXPECT_NE(line.find(" /install /silent /offline"), std::string::npos) << line;
    EXPECT_EQ(line.find("/silent"), line.rfind("/silent")) << "silent once";
    EXPECT_TRUE(has_message_starting(r, "The product-info.xml 'demo/release.xml' has been correctly unpacked"));
    EXPECT_TRUE(has_message(r, "Wait for bug_report end"));
    EXPECT_FALSE(has_message_starting(r, "File 'never.bin'")) << "a file of a group whose conditions fail";
    EXPECT_EQ(temp_folders(), before) << "the folder goes after the run";
    DeleteFileW(record.c_str());

    const std::wstring entry_copy = path::join(tmp, L"entry-read-by-master.xml");
    const run_result ok = run_stub(L"/verysilent /offline /check-temp:sub\\x.edat /cookie:from-command-line "
                                   L"\"/read-entry:sfx-info.xml=" + entry_copy + L"\"",
                                   packed_stub(L"install"));
    EXPECT_EQ(ok.exit_code, 0u) << "the payload's EDAT file, in its sub-folder, is there for the setup master";
    EXPECT_TRUE(has_message_starting(ok, "EDAT alias '../escape.edat' would leave the temporary folder"));
    EXPECT_TRUE(has_message(ok, "Microstub not DSA verified, skip get cookie"));
    // The master read the entry through the inherited handle at the listed offset.
    const std::string entry = read_file(entry_copy);
    EXPECT_EQ(entry.rfind("<?xml", 0), 0u);
    EXPECT_NE(entry.find("QZRSig3A"), std::string::npos) << "the signed document, byte for byte";
    DeleteFileW(entry_copy.c_str());
    EXPECT_FALSE(has_message(ok, "Wait for bug_report end")) << "no wait after success";
}

TEST(StubRun, ASignedMicrostubHandsOverItsCookieAndEdatFiles) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring edat = path::join(tmp, L"microstub-" + uuid::to_wstring(uuid::random_uuid()));
    ASSERT_TRUE(win::create_directories(edat));
    std::ofstream(path::join(edat, L"ecoo.edat").c_str()) << "cookie-of-the-microstub";
    std::ofstream(path::join(edat, L"m.edat").c_str()) << "data";
    const std::wstring stub_args = L"\"" + stub_path() + L"\" /silent /offline /xperf \"/edat_dir:" + edat +
                                   L"\" /check-temp:m.edat";

    const run_result trusted = run_stub(stub_args, packed_stub(L"microstub_signed"));
    EXPECT_EQ(trusted.exit_code, 0u) << "the microstub's EDAT file reached the temporary folder";
    EXPECT_TRUE(has_message(trusted, "DSA for microstub verified with result '1'"));
    auto info = read_hand_over(created_folder(trusted));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->text(L"cookie"), L"cookie-of-the-microstub");
    sfx::temp_dir::remove(created_folder(trusted));

    // The same folder named with a trailing separator finds the same cookie.
    // (Two backslashes before the quote reach the launcher's argument parser
    // as one; the stub reads backslashes literally.)
    const run_result trailing = run_stub(L"\"" + stub_path() + L"\" /silent /offline /xperf \"/edat_dir:" + edat +
                                             L"\\\\\" /check-temp:m.edat",
                                         packed_stub(L"microstub_signed"));
    EXPECT_EQ(trailing.exit_code, 0u);
    info = read_hand_over(created_folder(trailing));
    ASSERT_TRUE(info);
    EXPECT_NE(info->text(L"sfx-cmd").find(L"/edat_dir:" + edat + L"\\ "), std::wstring::npos)
        << "the separator reached the stub: " << utf::to_utf8(info->text(L"sfx-cmd"));
    EXPECT_EQ(info->text(L"cookie"), L"cookie-of-the-microstub") << "edat_dir with a trailing separator";
    sfx::temp_dir::remove(created_folder(trailing));

    const run_result both = run_stub(stub_args + L" /cookie:from-the-command-line", packed_stub(L"microstub_signed"));
    info = read_hand_over(created_folder(both));
    ASSERT_TRUE(info);
    std::vector<std::wstring> cookies;
    for (auto c : info->doc.document_element().children(L"cookie")) cookies.emplace_back(c.text().get());
    EXPECT_EQ(cookies, (std::vector<std::wstring>{L"cookie-of-the-microstub", L"from-the-command-line"}))
        << "the command line's comes last and wins";
    sfx::temp_dir::remove(created_folder(both));

    // A cookie file far larger than any cookie is ignored and the run goes on.
    std::ofstream(path::join(edat, L"ecoo.edat").c_str(), std::ios::binary | std::ios::trunc)
        << std::string(64 * 1024 + 1, 'c');
    const run_result huge = run_stub(stub_args, packed_stub(L"microstub_signed"));
    EXPECT_EQ(huge.exit_code, 0u);
    EXPECT_TRUE(has_message_starting(huge, "Cookie file '")) << "named as too large";
    info = read_hand_over(created_folder(huge));
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->doc.document_element().child(L"cookie"));
    sfx::temp_dir::remove(created_folder(huge));

    const run_result untrusted = run_stub(stub_args, packed_stub(L"microstub_unsigned"));
    EXPECT_EQ(untrusted.exit_code, 3u) << "no EDAT files from an unsigned parent";
    info = read_hand_over(created_folder(untrusted));
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->doc.document_element().child(L"cookie"));
    sfx::temp_dir::remove(created_folder(untrusted));

    DeleteFileW(path::join(edat, L"ecoo.edat").c_str());
    DeleteFileW(path::join(edat, L"m.edat").c_str());
    RemoveDirectoryW(edat.c_str());
}

TEST(StubRun, SetupMasterExitCodesDecideTheBugReportWaitAndRestart) {
    const run_result restart = run_stub(L"/silent /offline /exit:44080");
    EXPECT_EQ(restart.exit_code, 44080u);
    EXPECT_TRUE(has_message(restart, "Restart is required"));
    EXPECT_FALSE(has_message(restart, "Wait for bug_report end")) << "codes of the stub's own range do not wait";

    const auto t0 = std::chrono::steady_clock::now();
    const run_result failed = run_stub(L"/silent /offline /spawn-bug-report:3000 /exit:1");
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(failed.exit_code, 1u);
    EXPECT_TRUE(has_message(failed, "Waiting for bug_report..."));
    EXPECT_GE(took, std::chrono::milliseconds(2000)) << "held until the bug-report tool ended";
    EXPECT_LT(took, std::chrono::seconds(30));
}

TEST(StubRun, ClearInsteadOfInstall) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring record = path::join(tmp, L"master-clear.txt");
    const run_result r = run_stub(L"/silent /offline /clear \"/record:" + record + L"\"");
    EXPECT_EQ(r.exit_code, 0u);
    const std::string line = read_file(record);
    EXPECT_NE(line.find(" /clear"), std::string::npos) << line;
    EXPECT_EQ(line.find(" /install"), std::string::npos) << line;
    DeleteFileW(record.c_str());
}

TEST(StubRun, AProductInfoMissingOfflineIsAMissingFile) {
    const run_result r = run_stub(L"/silent /offline", packed_stub(L"signed"));
    EXPECT_EQ(r.exit_code, 44051u);
    EXPECT_TRUE(has_message(r, "The product-info.xml 'demo/release.xml' has not been found in SFX, fail!"));
    EXPECT_FALSE(has_message_starting(r, "No veltro_mod.dll")) << "offline runs never try the repository";
}

TEST(StubRun, AFileMissingOfflineEndsTheRunWithItsError) {
    const auto before = temp_folders();
    const run_result r = run_stub(L"/silent /offline", packed_stub(L"missing_file"));
    EXPECT_EQ(r.exit_code, 0xFFFFFFFFu);
    EXPECT_TRUE(has_message_starting(r, "File 'missing.bin'|'"));
    EXPECT_TRUE(has_message_starting(r, "Exception: File 'missing.bin'|'"));
    EXPECT_EQ(temp_folders(), before);
}

namespace {

std::wstring web_server() {
    wchar_t value[64] = {};
    return GetEnvironmentVariableW(L"VELTRO_WEB_SERVER", value, 64) ? value : L"";
}

}  // namespace

// A self-extractor that carries only sfx-info installs from the repository:
// the compatibility module moves the product to channel beta, whose
// product-info and setup files are downloaded, checked and started.
TEST(StubRun, OnlineInstallationFromTheRepository) {
    if (web_server().empty()) GTEST_SKIP() << "no web server (run through tests/net/with_web_server)";
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring record = path::join(tmp, L"online-master.txt");
    DeleteFileW(record.c_str());
    const std::wstring base = L"/base-url:http://" + web_server();
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", L"beta");
    const run_result r = run_stub(L"/silent /xperf " + base + L" \"/record:" + record + L"\"", packed_stub(L"online"));
    SetEnvironmentVariableW(L"VELTRO_MOD_ANSWER", nullptr);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0u) << r.log;
    const std::string line = read_file(record);
    EXPECT_NE(line.find("\\veltro.exe /from-beta /veltro-info-path:"), std::string::npos) << line;
    EXPECT_TRUE(has_message_starting(r, "Download of 'http://" + utf::to_utf8(web_server()) +
                                            "/dll/demo/x86/veltro_mod.dll.lzma' succeeded."));
    EXPECT_TRUE(has_message_starting(r, "Download of 'http://" + utf::to_utf8(web_server()) +
                                            "/defs/demo/beta.xml.lzma' succeeded."));
    const std::wstring folder = created_folder(r);
    const auto info = read_hand_over(folder);
    ASSERT_TRUE(info);
    EXPECT_GT(std::stod(info->text(L"average-download-speed")), 0.0);
    EXPECT_TRUE(win::exists(path::join(folder, L"common\\data\\setup.dat"))) << "downloaded into its sub-folder";
    sfx::temp_dir::remove(folder);
    DeleteFileW(record.c_str());

    // Nothing at the address: every candidate fails, the download text is
    // logged and the run ends with the download failure's code.
    const run_result missing = run_stub(L"/silent " + base + L"/nowhere", packed_stub(L"online"));
    EXPECT_EQ(missing.exit_code, 44002u);
    EXPECT_TRUE(has_message_starting(missing, "Download of 'http://" + utf::to_utf8(web_server()) +
                                                  "/nowhere/defs/demo/release.xml.lzma' failed. HTTP result '404'."));
}

// The compatibility module, loaded into the stub, allocates and frees on the
// process heap through the stub's exports and leaves two at-exit actions
// with it; they run, latest first, when the module unloads.
TEST(StubRun, ALoadedModuleUsesTheExportsOfTheStub) {
    if (web_server().empty()) GTEST_SKIP() << "no web server (run through tests/net/with_web_server)";
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring record = path::join(tmp, L"module-connectors.txt");
    DeleteFileW(record.c_str());
    SetEnvironmentVariableW(L"VELTRO_MOD_CONNECTORS", record.c_str());
    const run_result r = run_stub(L"/silent /base-url:http://" + web_server(), packed_stub(L"online"));
    SetEnvironmentVariableW(L"VELTRO_MOD_CONNECTORS", nullptr);
    EXPECT_EQ(r.exit_code, 0u) << r.log;
    EXPECT_EQ(read_file(record), "heap ok\nregistered\nsecond\nfirst\n");
    DeleteFileW(record.c_str());
}

// A base URL without a scheme: every file is asked for over https first,
// which nginx's plain HTTP port cannot answer, and then over http.
TEST(StubRun, ABareAddressFallsBackFromHttpsToHttp) {
    if (web_server().empty()) GTEST_SKIP() << "no web server (run through tests/net/with_web_server)";
    const std::string host = utf::to_utf8(web_server());
    const run_result r = run_stub(L"/silent /xperf /base-url:" + web_server(), packed_stub(L"online"));
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0u) << r.log;

    const auto lines = log_messages(r.log);
    auto first = [&](const std::string& prefix) {
        const auto starts = [&](const std::string& m) { return m.rfind(prefix, 0) == 0; };
        return std::find_if(lines.begin(), lines.end(), starts) - lines.begin();
    };
    const std::string info = host + "/defs/demo/release.xml.lzma";
    const auto https_failed = first("Download of 'https://" + info + "' failed. Last error '12157'.");
    const auto http_succeeded = first("Download of 'http://" + info + "' succeeded. (speed current: ");
    ASSERT_LT(http_succeeded, static_cast<std::ptrdiff_t>(lines.size())) << r.log;
    EXPECT_LT(https_failed, http_succeeded) << r.log;
    // The two setup files, each after its own https failure.
    const std::string object = host + "/universe/[0-9a-f/]+\\.lzma'";
    const std::regex object_failed("Download of 'https://" + object + " failed\\. Last error '12157'\\.");
    const std::regex object_fetched("Download of 'http://" + object + " succeeded\\. .*");
    std::vector<char> order;
    for (const auto& m : lines) {
        if (std::regex_match(m, object_failed)) order.push_back('s');
        if (std::regex_match(m, object_fetched)) order.push_back('h');
    }
    EXPECT_EQ(std::string(order.begin(), order.end()), "shsh");
    const std::wstring folder = created_folder(r);
    EXPECT_TRUE(win::exists(path::join(folder, L"common\\data\\setup.dat")));
    sfx::temp_dir::remove(folder);
}

namespace {

std::wstring proxy_address() {
    wchar_t value[64] = {};
    return GetEnvironmentVariableW(L"VELTRO_PROXY", value, 64) ? value : L"";
}

void write_text(const std::wstring& file, const std::string& text) {
    std::ofstream(file.c_str(), std::ios::binary) << text;
}

}  // namespace

// proxy.ini type 2 with basic credentials: every download goes through the
// proxy (on 127.0.0.2: Wine's WinHTTP would bypass a proxy named like the
// repository), and the setup master gets the settings as a UTF-16 LE
// proxy.ini of the run. SOCKS is refused by the HTTP client, so the download
// fails.
TEST(StubRun, OnlineThroughAnAuthenticatingProxy) {
    if (web_server().empty() || proxy_address().empty()) GTEST_SKIP() << "no web server or proxy";
    const std::wstring proxy_host = proxy_address().substr(0, proxy_address().find(L':'));
    const std::wstring proxy_port = proxy_address().substr(proxy_address().find(L':') + 1);
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring ini = path::join(tmp, L"e2e-proxy.ini");
    const std::wstring record = path::join(tmp, L"proxied-master.txt");
    write_text(ini, "[ProxySettings]\r\nProxyType=2\r\nAuthorization=1\r\nPort=" + utf::to_utf8(proxy_port) +
                        "\r\nProxyName=" + utf::to_utf8(proxy_host) + "\r\nUserName=veltro\r\nUserPass=czNjcmV0\r\n");
    const std::wstring base = L"/base-url:http://" + web_server();
    const run_result r = run_stub(L"/silent /xperf " + base + L" \"/proxy_ini:" + ini + L"\" \"/record:" + record + L"\"",
                                  packed_stub(L"online"));
    EXPECT_EQ(r.exit_code, 0u);
    wchar_t unix_log[MAX_PATH] = {};
    GetEnvironmentVariableW(L"VELTRO_PROXY_LOG", unix_log, MAX_PATH);
    std::wstring proxy_log = L"Z:" + std::wstring(unix_log);  // the host's root is drive Z: under Wine
    std::replace(proxy_log.begin(), proxy_log.end(), L'/', L'\\');
    const std::string seen = read_file(proxy_log);
    EXPECT_NE(seen.find("GET http://" + utf::to_utf8(web_server()) + "/defs/demo/release.xml.lzma"),
              std::string::npos)
        << "the proxy carried the download: " << seen.substr(0, 3000);
    const std::wstring folder = created_folder(r);
    const std::string line = read_file(record);
    EXPECT_NE(line.find("/proxy_ini:" + utf::to_utf8(path::join(folder, L"proxy.ini"))), std::string::npos) << line;
    const std::string handed = read_file(path::join(folder, L"proxy.ini"));
    ASSERT_GE(handed.size(), 2u);
    EXPECT_EQ(handed.substr(0, 2), std::string("\xFF\xFE", 2)) << "UTF-16 LE with its mark";
    std::wstring text(reinterpret_cast<const wchar_t*>(handed.data() + 2), (handed.size() - 2) / 2);
    EXPECT_NE(text.find(L"ProxyType=2\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"UserPass=czNjcmV0\r\n"), std::wstring::npos);
    sfx::temp_dir::remove(folder);

    write_text(ini, "[ProxySettings]\nProxyType=3\nPort=1080\nProxyName=" + utf::to_utf8(proxy_host) + "\n");
    const run_result socks = run_stub(L"/silent " + base + L" \"/proxy_ini:" + ini + L"\"", packed_stub(L"online"));
    EXPECT_EQ(socks.exit_code, 44002u);
    EXPECT_TRUE(has_message_starting(socks, "Download file 'http://" + utf::to_utf8(web_server()) +
                                                "/defs/demo/release.xml.lzma' failed: The WinHttp does not support "
                                                "to use the SOCKS protocol"));
    DeleteFileW(ini.c_str());
    DeleteFileW(record.c_str());
}

namespace {

std::wstring fault_server() {
    wchar_t value[64] = {};
    return GetEnvironmentVariableW(L"VELTRO_FAULT_SERVER", value, 64) ? value : L"";
}

// What the fault server was asked so far, a line a request ("GET /path", or
// TLS for an https attempt), without these queries themselves.
std::vector<std::string> fault_requests() {
    std::vector<std::uint8_t> body;
    auto client = net::simple_http_wrapper::factory().create(net::access::no_proxy, 0);
    client->get_to_memory(net::crack(L"http://" + fault_server() + L"/requests"), body, L"");
    std::vector<std::string> lines;
    std::istringstream in(std::string(body.begin(), body.end()));
    for (std::string line; std::getline(in, line);)
        if (line != "GET /requests") lines.push_back(line);
    return lines;
}

// A host-side file named by an environment variable, as a path under Wine.
std::wstring host_file(const wchar_t* variable) {
    wchar_t unix_path[MAX_PATH] = {};
    GetEnvironmentVariableW(variable, unix_path, MAX_PATH);
    std::wstring file = L"Z:" + std::wstring(unix_path);  // the host's root is drive Z: under Wine
    std::replace(file.begin(), file.end(), L'/', L'\\');
    return file;
}

// The current user's system proxy as Wine's WinHTTP reads it: the binary
// connection settings record (version 0x46, change counter, flags 1 direct |
// 2 named proxy, then counted ANSI strings: proxy, bypass list, script).
// The tests share the prefix: whatever was there comes back at scope end.
class system_proxy {
public:
    explicit system_proxy(const std::wstring& proxy) {
        RegCreateKeyExW(HKEY_CURRENT_USER, connections, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                        nullptr);
        DWORD size = 0;
        if (RegQueryValueExW(key_, name, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
            old_.emplace(size);
            RegQueryValueExW(key_, name, nullptr, &type_, old_->data(), &size);
        }
        set(proxy);
    }
    ~system_proxy() {
        if (old_)
            RegSetValueExW(key_, name, 0, type_, old_->data(), static_cast<DWORD>(old_->size()));
        else
            RegDeleteValueW(key_, name);
        RegCloseKey(key_);
    }
    system_proxy(const system_proxy&) = delete;
    system_proxy& operator=(const system_proxy&) = delete;

    void set(const std::wstring& proxy) {
        const std::string ansi = utf::to_utf8(proxy);
        std::vector<std::uint8_t> record;
        auto dword = [&](std::uint32_t v) {
            for (int i = 0; i < 4; ++i) record.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        };
        for (std::uint32_t v : {0x46u, 1u, 3u, static_cast<std::uint32_t>(ansi.size())}) dword(v);
        record.insert(record.end(), ansi.begin(), ansi.end());
        dword(0);
        dword(0);
        record.resize(record.size() + 32);
        RegSetValueExW(key_, name, 0, REG_BINARY, record.data(), static_cast<DWORD>(record.size()));
    }

    // What the system hands a program asking for the user's proxy.
    static std::wstring current() {
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
        if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return L"(failed)";
        const std::wstring proxy = config.lpszProxy ? config.lpszProxy : L"(none)";
        for (LPWSTR s : {config.lpszProxy, config.lpszProxyBypass, config.lpszAutoConfigUrl})
            if (s) GlobalFree(s);
        return proxy;
    }

private:
    static constexpr const wchar_t* connections =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    static constexpr const wchar_t* name = L"DefaultConnectionSettings";
    HKEY key_ = nullptr;
    DWORD type_ = REG_BINARY;
    std::optional<std::vector<std::uint8_t>> old_;
};

}  // namespace

// proxy.ini type 1: the user's system proxy replaces the file's record as a
// whole, its proxy and its credentials alike. The fault server plays a proxy
// without authentication; tinyproxy, which wants the credentials the file
// names, is refused them. (The repository is named localhost: Wine's WinHTTP
// sends a proxy the absolute URI only when the proxy's host name differs
// from the target's, and the fault server listens on 127.0.0.1 too.)
TEST(StubRun, PreconfiguredProxyIsTheUsersSystemProxy) {
    if (web_server().empty() || proxy_address().empty() || fault_server().empty())
        GTEST_SKIP() << "no web server, proxy or fault server";
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring ini = path::join(tmp, L"e2e-system-proxy.ini");
    write_text(ini, "[ProxySettings]\r\nProxyType=1\r\nAuthorization=1\r\nPort=9\r\nProxyName=127.0.0.3\r\n"
                    "UserName=veltro\r\nUserPass=czNjcmV0\r\n");
    const std::wstring repository = L"localhost" + web_server().substr(web_server().find(L':'));
    const std::string info = "GET http://" + utf::to_utf8(repository) + "/defs/demo/release.xml.lzma";
    const std::wstring arguments = L"/base-url:http://" + repository + L" \"/proxy_ini:" + ini + L"\"";

    system_proxy configured(fault_server());
    ASSERT_EQ(system_proxy::current(), fault_server()) << "Wine's WinHTTP reads the record";
    const std::size_t asked_before = fault_requests().size();
    const std::size_t direct_before = read_file(host_file(L"VELTRO_WEB_LOG")).size();
    const run_result r = run_stub(L"/silent /xperf " + arguments, packed_stub(L"online"));
    EXPECT_EQ(r.exit_code, 0u) << r.log;
    const auto asked = fault_requests();
    EXPECT_NE(std::find(asked.begin() + static_cast<std::ptrdiff_t>(asked_before), asked.end(), info), asked.end())
        << "the system's proxy carried the download";
    EXPECT_EQ(read_file(host_file(L"VELTRO_WEB_LOG")).size(), direct_before)
        << "nothing went to the repository directly";
    // The setup master gets the detected record, not the file's.
    const std::wstring folder = created_folder(r);
    const std::string handed = read_file(path::join(folder, L"proxy.ini"));
    ASSERT_GE(handed.size(), 2u);
    const std::wstring text(reinterpret_cast<const wchar_t*>(handed.data() + 2), (handed.size() - 2) / 2);
    const std::size_t colon = fault_server().find(L':');
    EXPECT_NE(text.find(L"ProxyType=2\r\nAuthorization=0\r\nPort=" + fault_server().substr(colon + 1) +
                        L"\r\nProxyName=" + fault_server().substr(0, colon) + L"\r\nUserName=\r\nUserPass=\r\n"),
              std::wstring::npos)
        << utf::to_utf8(text);
    sfx::temp_dir::remove(folder);

    configured.set(proxy_address());
    const std::size_t proxy_log_before = read_file(host_file(L"VELTRO_PROXY_LOG")).size();
    const run_result refused = run_stub(L"/silent " + arguments, packed_stub(L"online"));
    EXPECT_EQ(refused.exit_code, 44002u);
    EXPECT_TRUE(has_message(refused, "Download of 'http://" + utf::to_utf8(repository) +
                                         "/defs/demo/release.xml.lzma' failed. HTTP result '407'."))
        << refused.log;
    const std::string seen = read_file(host_file(L"VELTRO_PROXY_LOG")).substr(proxy_log_before);
    EXPECT_NE(seen.find(info), std::string::npos) << seen.substr(0, 3000);
    DeleteFileW(ini.c_str());
}

// A repository object that is validly signed but is not the file the
// product-info names ends the run with 13 and leaves no such file; one
// whose bytes changed fails its transfer's signature: a download failure.
TEST(StubRun, RepositoryObjectsThatAreNotWhatTheyClaim) {
    if (web_server().empty()) GTEST_SKIP() << "no web server (run through tests/net/with_web_server)";
    const std::wstring base = L"/base-url:http://" + web_server() + L"/faults/";
    const run_result mismatch = run_stub(L"/silent /xperf " + base + L"mismatch", packed_stub(L"online"));
    EXPECT_EQ(mismatch.exit_code, 13u);
    EXPECT_TRUE(has_message_starting(mismatch, "Fail unpack data, wrong checksum ("));
    const std::wstring folder = created_folder(mismatch);
    EXPECT_TRUE(win::exists(path::join(folder, L"common\\veltro.exe")));
    EXPECT_FALSE(win::exists(path::join(folder, L"common\\data\\setup.dat"))) << "the wrong file does not stay";
    sfx::temp_dir::remove(folder);

    const run_result tampered = run_stub(L"/silent " + base + L"tampered", packed_stub(L"online"));
    EXPECT_EQ(tampered.exit_code, 44002u);
    EXPECT_TRUE(has_message_starting(tampered, "DSA verification check of downloaded LZMA file (url http://"));

    // The container is fine, the document inside carries no signature of
    // its own: a signature failure of the stub, not a failed download.
    const run_result unsigned_info = run_stub(L"/silent " + base + L"unsigned-info", packed_stub(L"online"));
    EXPECT_EQ(unsigned_info.exit_code, 44024u);
    EXPECT_TRUE(has_message_starting(unsigned_info, "DSA verification check of downloaded data product-info.xml (url "));
}

// Online with nothing listening at the repository's address: the module and
// product-info downloads fail, and the product installs from the payload.
TEST(StubRun, AnUnreachableRepositoryFallsBackToThePayload) {
    const run_result r = run_stub(L"/silent", packed_stub(L"install"));
    EXPECT_EQ(r.exit_code, 0u);
    EXPECT_TRUE(has_message(r, "No veltro_mod.dll"));
    EXPECT_TRUE(has_message_starting(r, "Download of 'http://127.0.0.1:9/repo//defs/demo/release.xml.lzma' failed. "
                                        "Last error '"));
    // The failure carries the connection's error, which the box shows, not
    // the status 0 of a response that never came.
    const std::string url = "'http://127.0.0.1:9/repo//defs/demo/release.xml.lzma'";
    EXPECT_TRUE(has_message(r, "Download file " + url + " failed: Download file " + url + " failed (12029)")) << r.log;
    EXPECT_TRUE(has_message_starting(r, "The product-info.xml 'demo/release.xml' has been correctly unpacked"));
}

// Transfers the HTTP client refuses: a response without Content-Length and
// a body cut short (which some WinHTTPs read as a clean end) are failed
// downloads, never installed files.
TEST(StubRun, BrokenTransfersAreFailedDownloads) {
    wchar_t fault[64] = {};
    if (!GetEnvironmentVariableW(L"VELTRO_FAULT_SERVER", fault, 64)) GTEST_SKIP() << "no fault server";
    const std::string host = utf::to_utf8(fault);
    const run_result unannounced =
        run_stub(L"/silent /base-url:http://" + std::wstring(fault) + L"/repo-nolength", packed_stub(L"online"));
    EXPECT_EQ(unannounced.exit_code, 44002u);
    EXPECT_TRUE(has_message(unannounced, "Download of 'http://" + host +
                                             "/repo-nolength/defs/demo/release.xml.lzma' failed. Last error '12150'."));
    const run_result cut =
        run_stub(L"/silent /base-url:http://" + std::wstring(fault) + L"/repo-short", packed_stub(L"online"));
    EXPECT_EQ(cut.exit_code, 44002u);
    EXPECT_TRUE(has_message(cut, "Download of 'http://" + host +
                                     "/repo-short/defs/demo/release.xml.lzma' failed. Last error '12152'."));
}

// From its check until the setup master starts, a placed file cannot be
// written, replaced, renamed or deleted by anybody; the master, once
// started, can. The repository answers slowly, so the first placed file
// (the master) is looked at while the second one is still on its way.
TEST(StubRun, PlacedFilesStayAsCheckedUntilTheMasterStarts) {
    if (fault_server().empty()) GTEST_SKIP() << "no fault server";
    run_result r;
    std::thread run([&] {
        r = run_stub(L"/silent /base-url:http://" + fault_server() + L"/repo-slow /touch:common\\data\\setup.dat",
                     packed_stub(L"online"));
    });
    // The log as the running stub has it: it keeps the file open for
    // deleting, so only a reader that shares deleting gets in.
    const auto running_log = [] {
        std::string text;
        const HANDLE f = CreateFileW(log_file_path().c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) return text;
        char buffer[65536];
        for (DWORD n = 0; ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n > 0;) text.append(buffer, n);
        CloseHandle(f);
        return text;
    };
    static const std::regex placed("File 'veltro.exe' has been correctly downloaded and stored to '(.*)'\\.");
    std::wstring master;
    for (int i = 0; i < 600 && master.empty(); ++i) {
        Sleep(50);
        for (const auto& m : log_messages(running_log())) {
            std::smatch match;
            if (std::regex_match(m, match, placed)) master = utf::from_utf8(match[1].str());
        }
    }
    std::string allowed = "(not placed)";
    bool readable = false;
    if (!master.empty()) {
        allowed = test::changes_allowed(master);
        readable = test::readable_by_others(master);
    }
    const std::string log_then = running_log();
    run.join();
    EXPECT_EQ(allowed, "");
    EXPECT_TRUE(readable);
    EXPECT_EQ(log_then.find("Start of run_process"), std::string::npos) << "looked at after the master had started";
    EXPECT_EQ(log_then.find("File 'data\\setup.dat' has been correctly"), std::string::npos)
        << "looked at when the data file was already there";
    EXPECT_EQ(r.exit_code, 0u) << "the master started, read its files and could write one: " << r.log;
}

// A base URL without a scheme where nothing is found: each pass tries https
// and http, so no file is asked for more than six times. An https attempt
// reaches the plain fault server as a TLS handshake, without a path: it
// counts for the file whose plain request follows it.
TEST(StubRun, ABareAddressAsksAtMostSixTimesPerFile) {
    if (fault_server().empty()) GTEST_SKIP() << "no fault server";
    const std::size_t before = fault_requests().size();
    const run_result r = run_stub(L"/silent /base-url:" + fault_server() + L"/bare", packed_stub(L"online"));
    EXPECT_EQ(r.exit_code, 44002u);
    const auto asked = fault_requests();
    std::map<std::string, int> per_file;
    int handshakes = 0, pending = 0;
    for (std::size_t i = before; i < asked.size(); ++i) {
        if (asked[i] == "TLS") {
            ++handshakes;
            ++pending;
            continue;
        }
        per_file[asked[i]] += 1 + pending;
        pending = 0;
    }
    EXPECT_EQ(pending, 0) << "every https attempt is followed by its http one";
    EXPECT_GT(handshakes, 0) << "the https attempts reached the server";
    for (const auto& [request, count] : per_file) EXPECT_LE(count, 6) << request;
    EXPECT_EQ(per_file["GET /bare/defs/demo/release.xml.lzma"], 6) << "three passes over both candidates";
    EXPECT_EQ(per_file["GET /bare/dll/demo/x86/veltro_mod.dll.lzma"], 2) << "the module is tried once";
    EXPECT_EQ(per_file.size(), 2u);
    const std::string file = utf::to_utf8(fault_server()) + "/bare/defs/demo/release.xml.lzma";
    EXPECT_TRUE(has_message(r, "Download file '" + file + "' failed: Download file '" + file + "' failed (404)"))
        << "the last status is the one reported";
}
