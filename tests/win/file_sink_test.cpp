#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/errors.hpp"
#include "framework/path.hpp"
#include "framework/text_format.hpp"
#include "framework/uuid.hpp"
#include "log/file_sink.hpp"
#include "win/file_system.hpp"

using namespace qzr;

namespace {

std::string read_all(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_all(const std::wstring& path, const std::string& data) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << data;
}

log::event info_event(const std::string& text) {
    return log::event{log::level_info, log::make_source("vsfx", log::file_id{'A', 'B', 'C', 'D', 'E', 'F', '0', '1'}, 7),
                      text, log::now(), 1, 2};
}

const std::string bom = "\xEF\xBB\xBF";

class FileSink : public ::testing::Test {
protected:
    std::wstring folder;
    std::wstring log_path;

    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        folder = path::join(tmp, L"sink-" + uuid::to_wstring(uuid::random_uuid()));
        log_path = path::join(path::join(folder, L"Logs"), L"sfx.log");
    }
    void TearDown() override {
        for (const wchar_t* suffix : {L"", L".old"}) DeleteFileW((log_path + suffix).c_str());
        RemoveDirectoryW(path::join(folder, L"Logs").c_str());
        RemoveDirectoryW(folder.c_str());
    }
    std::vector<std::wstring> folder_entries() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW d;
        HANDLE h = FindFirstFileW(path::join(path::join(folder, L"Logs"), L"*").c_str(), &d);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            if (d.cFileName[0] != L'.') names.emplace_back(d.cFileName);
        } while (FindNextFileW(h, &d));
        FindClose(h);
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace

TEST_F(FileSink, NewFileInAMissingFolderStartsWithTheBom) {
    {
        log::file_sink sink(log_path, 0x400000, 0);
        sink.write(info_event("first"), false);
        sink.write(info_event("second"), true);
    }
    const std::string text = read_all(log_path);
    ASSERT_EQ(text.substr(0, 3), bom);
    EXPECT_NE(text.find("] first\r\n"), std::string::npos);
    EXPECT_NE(text.find("] second\r\n"), std::string::npos);
    EXPECT_EQ(folder_entries(), std::vector<std::wstring>{L"sfx.log"});  // no temporary file left
}

TEST_F(FileSink, AppendsToAnExistingLog) {
    qzr::win::create_directories(path::parent(log_path));
    write_all(log_path, bom + "earlier run\r\n");
    {
        log::file_sink sink(log_path, 0x400000, 0);
        sink.write(info_event("later"), false);
    }
    const std::string text = read_all(log_path);
    EXPECT_EQ(text.substr(0, 3 + 13), bom + "earlier run\r\n");
    EXPECT_NE(text.find("] later\r\n"), std::string::npos);
}

// Users may prepare the log folder before the elevated stub first runs. A
// log that is a second name of another file is never written, nor is one
// reached through a link; the run then has no log file.
TEST_F(FileSink, ALogThatIsAHardLinkToAnotherFileIsNeverWritten) {
    qzr::win::create_directories(path::parent(log_path));
    const std::wstring victim = path::join(folder, L"system-file.txt");
    write_all(victim, bom + "precious\r\n");
    ASSERT_TRUE(CreateHardLinkW(log_path.c_str(), victim.c_str(), nullptr));
    EXPECT_THROW(log::file_sink(log_path, 0x400000, 0), qzr::exceptions::error);
    EXPECT_FALSE(log::add_file_sink(log_path, 0x400000, 0)) << "the run goes on without a log file";
    EXPECT_EQ(read_all(victim), bom + "precious\r\n");
    DeleteFileW(victim.c_str());

    // The decision for what Wine cannot make: junctions and symbolic links.
    const std::uint32_t folder_attr = FILE_ATTRIBUTE_DIRECTORY, link = FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_TRUE(log::is_safe_log_folder(folder_attr));
    EXPECT_FALSE(log::is_safe_log_folder(folder_attr | link));
    EXPECT_FALSE(log::is_safe_log_folder(FILE_ATTRIBUTE_ARCHIVE)) << "a file where the folder should be";
    EXPECT_TRUE(log::is_safe_log_file(FILE_ATTRIBUTE_ARCHIVE, 1));
    EXPECT_FALSE(log::is_safe_log_file(FILE_ATTRIBUTE_ARCHIVE, 2));
    EXPECT_FALSE(log::is_safe_log_file(FILE_ATTRIBUTE_ARCHIVE | link, 1));
    EXPECT_FALSE(log::is_safe_log_file(folder_attr, 1));
}

TEST_F(FileSink, FullLogMovesToOldBeforeTheNextLine) {
    qzr::win::create_directories(path::parent(log_path));
    const std::string full = bom + std::string(0x400000, 'x');
    write_all(log_path, full);
    {
        log::file_sink sink(log_path, 0x400000, 0);
        sink.write(info_event("fresh"), false);
    }
    EXPECT_EQ(read_all(log_path + L".old"), full);
    const std::string text = read_all(log_path);
    EXPECT_EQ(text.substr(0, 3), bom);
    EXPECT_NE(text.find("] fresh\r\n"), std::string::npos);
    EXPECT_LT(text.size(), 200u);
}

TEST_F(FileSink, ExistingOldFileIsReplaced) {
    qzr::win::create_directories(path::parent(log_path));
    write_all(log_path + L".old", bom + "ancient\r\n");
    write_all(log_path, bom + std::string(100, 'y'));
    {
        log::file_sink sink(log_path, 64, 0);
        sink.write(info_event("after"), false);
    }
    EXPECT_EQ(read_all(log_path + L".old"), bom + std::string(100, 'y'));
    EXPECT_NE(read_all(log_path).find("] after\r\n"), std::string::npos);
    EXPECT_EQ(folder_entries(), (std::vector<std::wstring>{L"sfx.log", L"sfx.log.old"}));
}

TEST_F(FileSink, RotatesRepeatedlyWhileWriting) {
    {
        log::file_sink sink(log_path, 300, 0);
        for (int i = 0; i < 20; ++i) sink.write(info_event("line " + std::to_string(i)), false);
    }
    const std::string current = read_all(log_path);
    const std::string old = read_all(log_path + L".old");
    EXPECT_EQ(current.substr(0, 3), bom);
    EXPECT_EQ(old.substr(0, 3), bom);
    EXPECT_NE(current.find("] line 19\r\n"), std::string::npos);
    EXPECT_LT(current.size(), 600u);
    EXPECT_EQ(folder_entries(), (std::vector<std::wstring>{L"sfx.log", L"sfx.log.old"}));
}

TEST_F(FileSink, LogWithoutBomIsRotatedAway) {
    qzr::win::create_directories(path::parent(log_path));
    write_all(log_path, "no bom here\r\n");
    {
        log::file_sink sink(log_path, 0x400000, 0);
        sink.write(info_event("clean"), false);
    }
    EXPECT_EQ(read_all(log_path + L".old"), "no bom here\r\n");
    const std::string text = read_all(log_path);
    EXPECT_EQ(text.substr(0, 3), bom);
    EXPECT_NE(text.find("] clean\r\n"), std::string::npos);
}

TEST_F(FileSink, LevelsBelowTheMinimumAreDropped) {
    {
        log::file_sink sink(log_path, 0x400000, log::level_warning);
        sink.write(info_event("quiet"), false);
        auto ev = info_event("loud");
        ev.level = log::level_error;
        sink.write(ev, true);
    }
    const std::string text = read_all(log_path);
    EXPECT_EQ(text.find("quiet"), std::string::npos);
    EXPECT_NE(text.find("[error  ]"), std::string::npos);
}

// Threads write through one sink while it rotates many times: every line
// that survives lands whole in exactly one file, and each thread's lines
// there form an unbroken run up to its last one (only the oldest lines go,
// with the deleted ".old" files).
TEST_F(FileSink, ThreadsWritingAcrossRotationsKeepEveryLineWhole) {
    constexpr int threads = 8, lines_per_thread = 400;
    constexpr std::uint64_t limit = 8 * 1024;
    const auto message = [](int t, int i) { return text::format("t%d-%05d-", t, i) + std::string(40, 'x'); };
    const std::size_t line_size = log::format_line(info_event(message(0, 0))).size();
    {
        log::file_sink sink(log_path, limit, log::level_debug);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                for (int i = 0; i < lines_per_thread; ++i) sink.write(info_event(message(t, i)), false);
            });
        for (auto& w : workers) w.join();
    }
    EXPECT_EQ(folder_entries(), (std::vector<std::wstring>{L"sfx.log", L"sfx.log.old"}));

    std::map<int, std::set<int>> seen;
    std::size_t total = 0;
    for (const wchar_t* suffix : {L".old", L""}) {
        const std::string text = read_all(log_path + suffix);
        ASSERT_EQ(text.substr(0, 3), bom);
        EXPECT_LE(text.size(), limit + line_size) << "a file grew past its limit by more than one line";
        ASSERT_EQ((text.size() - 3) % line_size, 0u) << "a line was cut or mangled";
        for (std::size_t at = 3; at < text.size(); at += line_size) {
            const std::string line = text.substr(at, line_size);
            ASSERT_EQ(line.substr(line.size() - 2), "\r\n");
            const std::size_t m = line.rfind("] t");
            ASSERT_NE(m, std::string::npos) << line;
            int t = -1, i = -1;
            ASSERT_EQ(std::sscanf(line.c_str() + m + 3, "%d-%d-", &t, &i), 2) << line;
            ASSERT_EQ(line.substr(m + 2, line.size() - m - 4), message(t, i)) << "interleaved: " << line;
            EXPECT_TRUE(seen[t].insert(i).second) << "line written twice: " << line;
            ++total;
        }
    }
    EXPECT_GT(total, 2 * (limit / line_size) - 2) << "both files hold a full file's worth";
    for (const auto& [t, indices] : seen) {
        EXPECT_EQ(*indices.rbegin(), lines_per_thread - 1) << "thread " << t << " lost its last line";
        EXPECT_EQ(indices.size(), static_cast<std::size_t>(*indices.rbegin() - *indices.begin() + 1))
            << "thread " << t << " has a gap among its surviving lines";
    }
}

// Several processes log to one file; here several sinks stand in for them.
// Their lines must not land on one another (appends through separate handles
// are not atomic everywhere), and when the file is full each sink notices,
// but only one may rotate it: the others must not move or delete what that
// rotation produced.
TEST_F(FileSink, SinksOfSeveralProcessesRotateTheSharedFileOnce) {
    constexpr int sinks = 8, lines_per_sink = 16;
    constexpr std::uint64_t limit = 8 * 1024;
    const auto message = [](int s, int i) { return text::format("s%d-%05d-", s, i) + std::string(40, 'x'); };
    {
        std::vector<std::unique_ptr<log::file_sink>> open;
        for (int s = 0; s < sinks; ++s) open.push_back(std::make_unique<log::file_sink>(log_path, limit, 0));
        std::vector<std::thread> writers;
        for (int s = 0; s < sinks; ++s)
            writers.emplace_back([&, s] {
                for (int i = 0; i < lines_per_sink; ++i) open[s]->write(info_event(message(s, i)), false);
            });
        for (auto& w : writers) w.join();
    }
    // Fewer lines than two files hold: nothing is old enough to be dropped.
    EXPECT_EQ(folder_entries(), (std::vector<std::wstring>{L"sfx.log", L"sfx.log.old"}));
    std::map<int, std::set<int>> seen;
    for (const wchar_t* suffix : {L".old", L""}) {
        const std::string text = read_all(log_path + suffix);
        for (std::size_t at = 0; (at = text.find("] s", at)) != std::string::npos; at = text.find("\r\n", at)) {
            int s = -1, i = -1;
            ASSERT_EQ(std::sscanf(text.c_str() + at + 3, "%d-%d-", &s, &i), 2);
            EXPECT_TRUE(seen[s].insert(i).second) << "line written twice: " << message(s, i);
        }
    }
    for (int s = 0; s < sinks; ++s) {
        std::string missing;
        for (int i = 0; i < lines_per_sink; ++i)
            if (!seen[s].count(i)) missing += " " + std::to_string(i);
        EXPECT_EQ(missing, "") << "sink " << s << " lost these lines";
    }
}
