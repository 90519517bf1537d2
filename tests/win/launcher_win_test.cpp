// Starting processes and waiting for the bug-report tool, with a fixture
// program playing the setup master and the tool.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <fstream>

#include "../support/log_capture.hpp"
#include "framework/errors.hpp"
#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "veltro_sfx_lib/launch/secure_process_launcher.hpp"
#include "veltro_sfx_lib/run/sfx_data_holder.hpp"
#include "veltro_sfx_lib/setup/placed_files.hpp"
#include "win/file_system.hpp"

using namespace qzr;
using namespace qzr::sfx;
using namespace std::chrono;

namespace {

std::wstring own_folder() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return path::parent(std::wstring(buffer, n));
}

std::wstring fixture() { return path::join(own_folder(), L"veltro_fixture.exe"); }

class Launcher : public ::testing::Test {
protected:
    std::wstring dir;
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        dir = path::join(tmp, L"launch " + uuid::to_wstring(uuid::random_uuid()));  // a blank in the path
        ASSERT_TRUE(win::create_directories(path::join(dir, L"common")));
        ASSERT_TRUE(win::create_directories(path::join(dir, L"elsewhere")));
    }
    void TearDown() override {
        for (const wchar_t* f : {L"common\\bug_report.exe", L"elsewhere\\bug_report.exe", L"veltro.exe", L"cmd.txt"})
            DeleteFileW(path::join(dir, f).c_str());
        RemoveDirectoryW(path::join(dir, L"common").c_str());
        RemoveDirectoryW(path::join(dir, L"elsewhere").c_str());
        RemoveDirectoryW(dir.c_str());
    }
    std::wstring copy_as(const wchar_t* relative) {
        const std::wstring target = path::join(dir, relative);
        EXPECT_TRUE(CopyFileW(fixture().c_str(), target.c_str(), FALSE));
        return target;
    }
    // Starts a program without waiting; the caller closes nothing.
    void start(const std::wstring& program, const std::wstring& args) {
        std::wstring line = L"\"" + program + L"\" " + args;
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
};

}  // namespace

// The placed files, the program among them, are held until the program
// exists and let go before it runs: its first act may be to write one.
TEST_F(Launcher, PlacedFilesAreLetGoBeforeTheProgramRuns) {
    const std::wstring master = copy_as(L"veltro.exe");
    const std::wstring setup = path::join(dir, L"cmd.txt");
    std::ofstream(setup.c_str()) << "setup";
    sfx_data_holder context;
    context.placed = std::make_shared<placed_files>();
    context.placed->hold(master, win::open_placed(master));
    context.placed->hold(setup, win::open_placed(setup));
    const auto launcher = secure_process_launcher::factory().create(context);
    EXPECT_EQ(launcher->run_process(master, L"\"/touch:" + setup + L"\"", INFINITE), 0u);
    EXPECT_EQ(context.placed->size(), 0u);
}

TEST_F(Launcher, ExitCodesAndTheRebuiltCommandLine) {
    test::log_capture log;
    const std::wstring master = copy_as(L"veltro.exe");
    secure_process_launcher launcher;
    EXPECT_EQ(launcher.run_process(master, L"/exit:0", INFINITE), 0u);
    EXPECT_EQ(launcher.run_process(master, L"/exit:44080", INFINITE), 44080u);
    EXPECT_EQ(launcher.run_process(master, L"/exit:3758096384", INFINITE), 3758096384u);

    const std::wstring record = path::join(dir, L"cmd.txt");
    launcher.run_process(master, L"\"/record:" + record + L"\" /install \"/install-path:C:\\Program Files\\X\"",
                         INFINITE);
    std::ifstream in(record.c_str(), std::ios::binary);
    const std::string recorded(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(recorded, utf::to_utf8(L"\"" + master + L"\" \"/record:" + record +
                                     L"\" /install \"/install-path:C:\\Program Files\\X\""));
    EXPECT_TRUE(log.has_containing(log::level_info, "finished with exit code '44080'"));
}

TEST_F(Launcher, TimeoutsLeaveTheProcessRunning) {
    test::log_capture log;
    const std::wstring master = copy_as(L"veltro.exe");
    secure_process_launcher launcher;
    const auto t0 = steady_clock::now();
    EXPECT_EQ(launcher.run_process(master, L"/sleep:3000", 0), 259u);
    EXPECT_EQ(launcher.run_process(master, L"/sleep:3000", 200), 259u);
    EXPECT_LT(steady_clock::now() - t0, seconds(2));
    EXPECT_TRUE(log.has_containing(log::level_warning, "timeout '200' is still running"));
    EXPECT_EQ(launcher.run_process(master, L"/exit:259", INFINITE), 259u) << "indistinguishable from running";
}

TEST_F(Launcher, MissingProgram) {
    secure_process_launcher launcher;
    try {
        launcher.run_process(path::join(dir, L"absent.exe"), L"/x", INFINITE);
        FAIL();
    } catch (const qzr::exceptions::error& e) {
        EXPECT_EQ(e.code(), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(std::string(e.what()).rfind("Unable to create process '", 0), 0u);
    }
}

TEST_F(Launcher, BugReportPattern) {
    EXPECT_EQ(secure_process_launcher::bug_report_pattern(L"C:\\Windows\\Temp\\QZR-X\\common"),
              L"windows\\temp\\qzr-x\\common\\bug_report.exe");
    EXPECT_EQ(secure_process_launcher::bug_report_pattern(L"\\\\srv\\share\\a\\"), L"a\\bug_report.exe");
}

TEST_F(Launcher, BugReportFromTheFolderHoldsTheWait) {
    test::log_capture log;
    start(copy_as(L"common\\bug_report.exe"), L"/sleep:2500");
    start(copy_as(L"elsewhere\\bug_report.exe"), L"/sleep:6000");
    Sleep(300);
    secure_process_launcher launcher(seconds(30), milliseconds(250));
    const auto t0 = steady_clock::now();
    launcher.wait_for_bug_report(path::join(dir, L"COMMON"));
    const auto waited = steady_clock::now() - t0;
    EXPECT_GE(waited, milliseconds(1500));
    EXPECT_LT(waited, seconds(5)) << "the tool from elsewhere does not hold the wait";
    EXPECT_TRUE(log.has(log::level_info, "Waiting for bug_report..."));
    EXPECT_TRUE(log.has(log::level_info, "Wait for bug_report end"));
    EXPECT_FALSE(log.has("Waiting for bug_report finish timeout"));
    Sleep(4000);  // let the other one end before the folder goes
}

TEST_F(Launcher, BugReportWaitIsBounded) {
    test::log_capture log;
    start(copy_as(L"common\\bug_report.exe"), L"/sleep:5000");
    Sleep(300);
    secure_process_launcher launcher(milliseconds(1200), milliseconds(200));
    const auto t0 = steady_clock::now();
    launcher.wait_for_bug_report(path::join(dir, L"common"));
    EXPECT_LT(steady_clock::now() - t0, milliseconds(3000));
    EXPECT_TRUE(log.has(log::level_info, "Waiting for bug_report finish timeout"));
    Sleep(5000);
}

TEST_F(Launcher, NoBugReportEndsAtOnce) {
    test::log_capture log;
    secure_process_launcher launcher;
    const auto t0 = steady_clock::now();
    launcher.wait_for_bug_report(path::join(dir, L"common"));
    EXPECT_LT(steady_clock::now() - t0, milliseconds(500));
    EXPECT_TRUE(log.has(log::level_info, "Wait for bug_report end"));
    EXPECT_FALSE(log.has("Waiting for bug_report..."));
}
