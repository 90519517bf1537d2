#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "framework/errors.hpp"
#include "log/log_line.hpp"
#include "log/logger.hpp"

using namespace qzr::log;

namespace {

constexpr filetime leap_day = 133536855091230000ULL;  // 2024-02-29 13:05:09.123 UTC

event make_event(unsigned level, std::string message) {
    file_id id;
    std::copy_n("ABCDEF12", 8, id.begin());
    return event{level, make_source("vsfx", id, 42), std::move(message), leap_day, 1234, 56789};
}

}  // namespace

TEST(LogLine, ExactLayout) {
    EXPECT_EQ(format_line(make_event(level_info, "SFX started")),
              "[2024-02-29 13:05:09.123] [info   ] [vsfx       ] [ 1234:56789] [ABCDEF:  42] SFX started\r\n");
    EXPECT_EQ(format_line(make_event(level_warning, "w")).substr(26, 10), "[warning] ");
}

TEST(LogLine, ColumnsWidenForLongValuesAndCountCharactersNotBytes) {
    auto ev = make_event(level_info, "m");
    ev.process_id = 4294967295u;
    ev.thread_id = 7;
    ev.source.line = -7;
    std::memcpy(ev.source.tag, "\xC3\xA9t\xC3\xA9", 6);  // three characters in five bytes
    EXPECT_EQ(format_line(ev),
              "[2024-02-29 13:05:09.123] [info   ] [\xC3\xA9t\xC3\xA9        ] [4294967295:    7] [ABCDEF:  -7] m\r\n");
    ev.time = 70000;  // 7 ms after the epoch: every field zero-padded
    EXPECT_EQ(format_line(ev).substr(0, 25), "[1601-01-01 00:00:00.007]");
}

TEST(LogLine, LevelNames) {
    const char* names[] = {"debug", "block", "info", "fnction", "notice", "warning", "thread", "error", "fatal"};
    for (unsigned i = 0; i < 9; ++i) EXPECT_EQ(level_name(i), names[i]);
    EXPECT_EQ(level_name(9), "");
    EXPECT_NE(format_line(make_event(12, "x")).find("[       ]"), std::string::npos);
}

TEST(LogLine, FurtherLinesAlignUnderTheMessage) {
    const std::string line = format_line(make_event(level_error, "\n\nfirst\nsecond\nthird"));
    const std::string header = line.substr(0, header_width);
    EXPECT_EQ(header.back(), ' ');
    EXPECT_EQ(line.substr(header_width), "first\r\n" + std::string(78, ' ') + "second\r\n" + std::string(78, ' ') +
                                             "third\r\n");
}

TEST(LogLine, UnconvertibleTimeGivesAnEmptyLine) {
    auto ev = make_event(level_info, "x");
    ev.time = 0x8000000000000000ULL;
    EXPECT_EQ(format_line(ev), "");
}

TEST(LogLine, CivilTimeConversion) {
    const auto t = to_civil(125911583999990000ULL);  // 1999-12-31 23:59:59.999
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, 1999);
    EXPECT_EQ(t->month, 12);
    EXPECT_EQ(t->day, 31);
    EXPECT_EQ(t->millisecond, 999);
    const auto epoch = to_civil(0);
    EXPECT_EQ(epoch->year, 1601);
    EXPECT_EQ(epoch->month, 1);
    EXPECT_EQ(epoch->day, 1);
}

TEST(LogMessage, LineBreaksAndContext) {
    EXPECT_EQ(compose_message("\r\n\r\nab\r\ncd", "", "vsfx"), "ab\ncd");
    EXPECT_EQ(compose_message("msg", "run:payload", "vsfx"), "{run:payload} msg");
    EXPECT_EQ(compose_message("msg", "run:vsfx", "vsfx"), "{run} msg");
}

TEST(LogSource, FileIdentifiersFromTheBuildPath) {
    // Reference values computed independently (MD5 of salt + lower-cased path).
    const auto id = file_id_from_build_path("C:\\BUILD\\work\\b1fc704878a8d844\\projects\\veltro\\src\\veltro_sfx\\main.cpp");
    EXPECT_EQ(std::string(id.begin(), id.end()), "E0422153");
    const auto mixed = file_id_from_build_path("C:\\BUILD\\work\\b1fc704878a8d844\\Projects\\Veltro\\SRC\\log\\Logger.cpp");
    EXPECT_EQ(std::string(mixed.begin(), mixed.end()), "9CD4628C");
    EXPECT_EQ(file_id_of_source("src/veltro_sfx/main.cpp"), id);
    try {
        file_id_from_build_path("D:\\other\\main.cpp");
        FAIL();
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "The prefixes do not match");
    }
}

TEST(LogSource, TagIsTruncatedToElevenBytes) {
    const auto s = make_source("a-very-long-tag", file_id{}, 1);
    EXPECT_STREQ(s.tag, "a-very-long");
}

TEST(DescribeException, TextCodeAndNestedCause) {
    EXPECT_EQ(describe_exception(std::runtime_error("boom")), "Exception: boom");
    EXPECT_EQ(describe_exception(qzr::exceptions::error(5)), "Code: 0x00000005 (5)");
    try {
        try {
            throw qzr::exceptions::error(87, "inner");
        } catch (...) {
            std::throw_with_nested(qzr::exceptions::error("outer"));
        }
    } catch (const std::exception& e) {
        EXPECT_EQ(describe_exception(e), "Exception: outer\nException: inner\nCode: 0x00000057 (87)");
    }
}

namespace {
struct capture_sink : ISink {
    unsigned min = 0;
    std::vector<std::pair<event, bool>> seen;
    unsigned min_level() const noexcept override { return min; }
    void write(const event& ev, bool flush) override { seen.emplace_back(ev, flush); }
};
struct throwing_sink : ISink {
    unsigned min_level() const noexcept override { return 0; }
    void write(const event&, bool) override { throw std::runtime_error("disk full"); }
};
}  // namespace

TEST(Logger, FiltersFlushesAndSurvivesFailingSinks) {
    Logger lg;
    EXPECT_FALSE(lg.is_enabled(level_fatal));
    auto sink = std::make_shared<capture_sink>();
    sink->min = level_info;
    lg.add_sink(std::make_shared<throwing_sink>());
    lg.add_sink(sink);
    lg.set_flush_level(level_error);
    const auto src = make_source("vsfx", file_id{}, 1);
    lg.logf(level_debug, src, "dropped");
    lg.logf(level_info, src, L"kept %d", 1);
    lg.logf(level_error, src, "flushed");
    ASSERT_EQ(sink->seen.size(), 2u);
    EXPECT_EQ(sink->seen[0].first.message, "kept 1");
    EXPECT_FALSE(sink->seen[0].second);
    EXPECT_TRUE(sink->seen[1].second);
    EXPECT_THROW(lg.set_flush_level(10), qzr::exceptions::error);
    lg.set_flush_level(9);
}

// Threads log at once: each sink sees one event at a time, so a sink needs no
// lock of its own, and no event is lost.
TEST(Logger, SinksAreCalledOneEventAtATime) {
    struct overlap_sink : ISink {
        std::atomic<bool> inside{false};
        std::atomic<int> overlaps{0};
        std::vector<std::string> lines;  // deliberately unguarded
        unsigned min_level() const noexcept override { return 0; }
        void write(const event& ev, bool) override {
            if (inside.exchange(true)) ++overlaps;
            lines.push_back(ev.message);
            std::this_thread::yield();
            inside = false;
        }
    };
    Logger lg;
    auto sink = std::make_shared<overlap_sink>();
    lg.add_sink(sink);
    const auto src = make_source("vsfx", file_id{}, 1);
    constexpr int threads = 4, events = 2000;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < events; ++i) lg.logf(level_info, src, "event %d", i);
        });
    for (auto& w : workers) w.join();
    EXPECT_EQ(sink->overlaps.load(), 0);
    EXPECT_EQ(sink->lines.size(), static_cast<std::size_t>(threads * events));
}
