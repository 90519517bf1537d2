// Starting, placing and waiting for processes, with the fixture program as
// the child.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "framework/errors.hpp"
#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "win/file_system.hpp"
#include "win/handle.hpp"
#include "win/process_wrapper.hpp"

using namespace qzr;
using qzr::systools::process_record;
using qzr::systools::process_wrapper;
using namespace std::chrono;

namespace {

std::wstring fixture_line(const std::wstring& args) {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return L"\"" + path::join(path::parent(std::wstring(buffer, n)), L"veltro_fixture.exe") + L"\" " + args;
}

std::string read_file(const std::wstring& file) {
    std::ifstream in(file.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::wstring hex(HANDLE h) {
    wchar_t text[32];
    std::swprintf(text, std::size(text), L"%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(h)));
    return text;
}

bool signalled(HANDLE h) { return WaitForSingleObject(h, 0) == WAIT_OBJECT_0; }

class ProcessWrapper : public ::testing::Test {
protected:
    std::wstring dir;
    process_wrapper wrapper;
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        dir = path::join(tmp, L"process wrapper " + uuid::to_wstring(uuid::random_uuid()));  // a blank in the path
        ASSERT_TRUE(win::create_directories(dir));
    }
    void TearDown() override {
        for (const wchar_t* f : {L"cwd.txt", L"cmd.txt"}) DeleteFileW(path::join(dir, f).c_str());
        // A child that ran in the folder may still hold it for a moment
        // after its end has been signalled.
        for (int i = 0; i < 40 && !RemoveDirectoryW(dir.c_str()); ++i) Sleep(50);
    }
};

}  // namespace

TEST_F(ProcessWrapper, ExitCodesComeBackAndTheRecordKeepsTheProcess) {
    process_record started;
    EXPECT_EQ(wrapper.run(fixture_line(L"/exit:44080"), false, false, INFINITE, started), 44080u);
    EXPECT_EQ(wrapper.run(fixture_line(L"/exit:3758096384"), true, true, INFINITE, started), 3758096384u);
    ASSERT_TRUE(started.process);
    EXPECT_NE(started.thread_id, 0u);
    EXPECT_EQ(GetProcessId(started.process.get()), started.process_id);
    EXPECT_EQ(wrapper.wait(started.process.get(), 0, nullptr), 3758096384u) << "an ended process answers at once";

    // Not waited for: the record holds the running process until it ends.
    const auto t0 = steady_clock::now();
    EXPECT_EQ(wrapper.run_no_inherit(fixture_line(L"/sleep:800 /exit:7"), false, 0, started), 259u);
    EXPECT_LT(steady_clock::now() - t0, milliseconds(500));
    ASSERT_TRUE(started.process);
    const win::handle by_id(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, started.process_id));
    ASSERT_TRUE(by_id) << "the recorded id names a live process";
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(by_id.get(), &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(wrapper.wait(started.process.get(), INFINITE, nullptr), 7u);

    try {
        wrapper.run(L"\"" + path::join(dir, L"absent.exe") + L"\" /x", false, false, INFINITE, started);
        FAIL() << "a missing program starts nothing";
    } catch (const exceptions::error& e) {
        EXPECT_EQ(e.code(), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(std::string(e.what()), utf::to_utf8(L"Unable to create process '\"" + path::join(dir, L"absent.exe") +
                                                      L"\" /x'!"));
    }
    EXPECT_FALSE(started.process) << "a failed start leaves no stale process in the record";
    EXPECT_EQ(started.process_id, 0u);
}

// A prepared run calls back before the program's first instruction; a
// callback that fails leaves the program unstarted.
TEST_F(ProcessWrapper, APreparedRunCallsBackBeforeTheProgramRuns) {
    process_record started;
    const std::wstring record = path::join(dir, L"cmd.txt");
    bool ran_before = true;
    EXPECT_EQ(wrapper.run_prepared(fixture_line(L"\"/record:" + record + L"\" /exit:5"), false, {}, INFINITE,
                                   [&] {
                                       Sleep(300);
                                       ran_before = win::exists(record);
                                   },
                                   started),
              5u);
    EXPECT_FALSE(ran_before) << "the program waited for the callback";
    EXPECT_TRUE(win::exists(record));
    DeleteFileW(record.c_str());

    EXPECT_THROW(wrapper.run_prepared(fixture_line(L"\"/record:" + record + L"\""), false, {}, INFINITE,
                                      [] { throw exceptions::error(5, "not now"); }, started),
                 exceptions::error);
    EXPECT_FALSE(started.process);
    Sleep(300);
    EXPECT_FALSE(win::exists(record)) << "the program never ran";
}

TEST_F(ProcessWrapper, RunsInTheGivenFolderOrInOurs) {
    process_record started;
    const std::wstring record = path::join(dir, L"cwd.txt");
    EXPECT_EQ(wrapper.run_in_directory(fixture_line(L"\"/record-cwd:" + record + L"\" /exit:5"), dir, false, false,
                                       started),
              5u);
    EXPECT_EQ(read_file(record), utf::to_utf8(dir));
    EXPECT_TRUE(started.process);
    EXPECT_NE(started.process_id, 0u);

    wchar_t own[MAX_PATH];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, own);
    ASSERT_NE(std::wstring(own, n), dir);
    EXPECT_EQ(wrapper.run_in_directory(fixture_line(L"\"/record-cwd:" + record + L"\""), L"", true, false, started),
              0u);
    EXPECT_EQ(read_file(record), utf::to_utf8(std::wstring(own, n))) << "no folder: the child inherits ours";
}

TEST_F(ProcessWrapper, OnlyTheInheritingRunsHandTheChildOurHandles) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const win::handle event(CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    const std::wstring line = fixture_line(L"/signal:" + hex(event.get()));
    process_record started;

    EXPECT_EQ(wrapper.run(line, false, true, INFINITE, started), 0u);
    EXPECT_TRUE(signalled(event.get())) << "the child set our event through the handle it inherited";
    ResetEvent(event.get());

    EXPECT_EQ(wrapper.run_in_directory(line, dir, false, true, started), 0u);
    EXPECT_TRUE(signalled(event.get())) << "the second start flag is the inheritance";
    ResetEvent(event.get());

    // The child may hold some handle of its own under that value; only our
    // event's state tells whether it was handed over.
    wrapper.run_no_inherit(line, false, INFINITE, started);
    EXPECT_FALSE(signalled(event.get()));
    wrapper.run(line, true, false, INFINITE, started);
    EXPECT_FALSE(signalled(event.get()));
    wrapper.run_in_directory(line, dir, false, false, started);
    EXPECT_FALSE(signalled(event.get()));

    // A prepared run hands over the listed handles and no other, though
    // both are inheritable.
    const win::handle listed(CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    ASSERT_TRUE(listed);
    wrapper.run_prepared(fixture_line(L"/signal:" + hex(listed.get()) + L" /signal:" + hex(event.get())), false,
                         {listed.get()}, INFINITE, nullptr, started);
    EXPECT_TRUE(signalled(listed.get()));
    EXPECT_FALSE(signalled(event.get())) << "an inheritable handle that is not listed stays ours";
    wrapper.run_prepared(line, false, {}, INFINITE, nullptr, started);
    EXPECT_FALSE(signalled(event.get())) << "an empty list hands over nothing";
}

TEST_F(ProcessWrapper, WaitReportsTimeOutCancellationFailureAndBadHandles) {
    process_record started;
    ASSERT_EQ(wrapper.run(fixture_line(L"/sleep:1500 /exit:9"), false, false, 0, started), 259u);
    const win::handle idle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const win::handle cancelled(CreateEventW(nullptr, TRUE, TRUE, nullptr));

    auto t0 = steady_clock::now();
    EXPECT_EQ(wrapper.wait(started.process.get(), 200, nullptr), 1460u);
    EXPECT_GE(steady_clock::now() - t0, milliseconds(150));
    EXPECT_EQ(wrapper.wait(started.process.get(), 200, idle.get()), 1460u);
    t0 = steady_clock::now();
    EXPECT_EQ(wrapper.wait(started.process.get(), INFINITE, cancelled.get()), 995u);
    EXPECT_LT(steady_clock::now() - t0, milliseconds(500));
    EXPECT_EQ(wrapper.wait(started.process.get(), INFINITE, idle.get()), 9u) << "an unsignalled second handle";
    EXPECT_EQ(wrapper.wait(started.process.get(), INFINITE, cancelled.get()), 9u)
        << "both signalled: the process ended, its code says more";

    EXPECT_EQ(wrapper.wait(nullptr, INFINITE, nullptr), 6u);
    EXPECT_EQ(wrapper.wait(INVALID_HANDLE_VALUE, INFINITE, cancelled.get()), 6u);
    // Handles short of the rights a wait and an exit code need: the failing
    // call's own error comes back.
    const win::handle no_query(OpenProcess(SYNCHRONIZE, FALSE, started.process_id));
    ASSERT_TRUE(no_query);
    EXPECT_EQ(wrapper.wait(no_query.get(), INFINITE, nullptr), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    const win::handle no_sync(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, started.process_id));
    ASSERT_TRUE(no_sync);
    EXPECT_EQ(wrapper.wait(no_sync.get(), INFINITE, nullptr), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
}

TEST_F(ProcessWrapper, RunAsAnotherUserNeedsAUsableToken) {
    try {
        wrapper.run_as_user(nullptr, fixture_line(L"/exit:0"), 0);
        FAIL() << "no token, no process";
    } catch (const exceptions::error& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to duplicate the access token!");
        EXPECT_EQ(e.code(), ERROR_INVALID_HANDLE);
    }

    HANDLE raw = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw));
    const win::handle query_only(raw);
    try {
        wrapper.run_as_user(query_only.get(), fixture_line(L"/exit:0"), 0);
        FAIL() << "a token that may not be duplicated";
    } catch (const exceptions::error& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to duplicate the access token!");
        EXPECT_EQ(e.code(), ERROR_ACCESS_DENIED);
    }

    // Our own token: the child runs, and is not waited for.
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &raw));
    const win::handle own(raw);
    const std::wstring record = path::join(dir, L"cmd.txt");
    const std::wstring line = fixture_line(L"\"/record:" + record + L"\"");
    wrapper.run_as_user(own.get(), line, CREATE_NO_WINDOW);
    for (int i = 0; i < 100 && read_file(record).empty(); ++i) Sleep(50);
    Sleep(100);
    EXPECT_EQ(read_file(record), utf::to_utf8(line));

    const std::wstring absent = L"\"" + path::join(dir, L"absent.exe") + L"\"";
    try {
        wrapper.run_as_user(own.get(), absent, 0);
        FAIL() << "a missing program starts nothing";
    } catch (const exceptions::error& e) {
        EXPECT_EQ(std::string(e.what()), utf::to_utf8(L"Unable to create process '" + absent + L"'!"));
        EXPECT_EQ(e.code(), ERROR_FILE_NOT_FOUND);
    }
}
