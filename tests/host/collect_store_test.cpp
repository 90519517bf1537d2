// The receiver end to end in one process: documents posted over HTTP, kept in
// SQLite (and in PostgreSQL when $VELTRO_TEST_POSTGRES names a database), and
// the report read back from what was kept.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "../support/stub_events.hpp"
#include "event_store.hpp"
#include "receiver.hpp"
#include "report.hpp"

namespace {

using namespace qzr;
namespace fs = std::filesystem;

struct temp_folder {
    fs::path path = fs::temp_directory_path() / ("qzr-collect-" + std::to_string(::getpid()) + "-" +
                                                 std::to_string(std::rand()));
    temp_folder() { fs::create_directories(path); }
    ~temp_folder() { fs::remove_all(path); }
};

std::vector<std::string> targets(const temp_folder& t) {
    std::vector<std::string> all = {(t.path / "events.sqlite").string()};
    if (const char* pg = std::getenv("VELTRO_TEST_POSTGRES"); pg && *pg) all.push_back(pg);
    return all;
}

collect::event_record record_of(const std::string& stage, const test::stub_run& run, std::int64_t received_ms) {
    auto parsed = collect::parse_event(test::stub_event(stage, run));
    EXPECT_EQ(parsed.refused, collect::refusal::none) << parsed.reason;
    parsed.record.received_ms = received_ms;
    return parsed.record;
}

std::string request_id(int n) {
    char id[40];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", n);
    return id;
}

// Known sessions over two days: the report must count each exactly once.
constexpr std::int64_t day1 = 1796774400000;  // 2026-12-09 00:00 UTC
constexpr std::int64_t day2 = day1 + 86400000;
constexpr std::int64_t hour = 3600000;

std::vector<collect::event_record> known_events(int id_base) {
    std::vector<collect::event_record> all;
    int n = id_base;
    const auto add = [&](const std::string& stage, test::stub_run run, std::int64_t at) {
        run.request_id = request_id(++n);
        all.push_back(record_of(stage, run, at));
    };
    const auto session = [&](int k) {
        test::stub_run run;
        char id[40];
        std::snprintf(id, sizeof id, "%08d-0000-4000-8000-%012d", id_base, k);
        run.session = std::wstring(id, id + 36);
        return run;
    };
    auto a = session(1);  // installed
    for (const char* stage : {"sfx-start", "sfx-preparing", "sfx-running-veltro"}) add(stage, a, day1 + hour);
    a.ret_code = 0;
    add("sfx-finish", a, day1 + 2 * hour);
    auto b = session(2);  // a download failed, on Windows 7 in German
    b.major = 6, b.minor = 1, b.build = 7601, b.language = 0x0407, b.architecture = "X86";
    add("sfx-start", b, day1 + hour);
    add("sfx-preparing", b, day1 + hour);
    b.ret_code = 44002;
    add("sfx-fail", b, day1 + hour);
    auto c = session(3);  // declined; its first stages went elsewhere
    c.ret_code = 1223;
    add("sfx-finish", c, day2 + hour);
    auto d = session(4);  // installed, asks for a restart, another product
    d.product = L"addon";
    add("sfx-running-veltro", d, day2 + hour);
    d.ret_code = 44080, d.reboot = true;
    add("sfx-finish", d, day2 + hour);
    auto e = session(5);  // a hostile product name, still running
    e.product = L"<script>alert(1)</script>";
    e.sfx_version = "1.0.0.2";
    add("sfx-start", e, day2 + 2 * hour);
    auto old = session(6);  // before the report's first day
    add("sfx-start", old, day1 - hour);
    return all;
}

TEST(CollectStore, BatchesAreKeptWholeOnceAndReadBackInOrder) {
    temp_folder t;
    for (const auto& target : targets(t)) {
        SCOPED_TRACE(target);
        auto store = collect::open_store(target);
        EXPECT_EQ(store->version(), collect::schema_version);
        const std::uint64_t before = store->count();
        const int base = static_cast<int>(::getpid() % 100000) * 100;
        auto events = known_events(base);
        store->insert(events);
        // Posted twice (a proxy that retries): kept once.
        store->insert(std::span(events).subspan(0, 3));
        EXPECT_EQ(store->count(), before + events.size());
        std::vector<collect::stored_event> read;
        // A PostgreSQL database may hold other tests' events too.
        char mine[16];
        std::snprintf(mine, sizeof mine, "%08d-", base);
        store->scan({day1}, [&](const collect::stored_event& e) {
            if (e.session_id.starts_with(mine)) read.push_back(e);
        });
        ASSERT_EQ(read.size(), events.size() - 1);  // the day before is not read
        EXPECT_EQ(read[3].stage, "sfx-finish");
        EXPECT_EQ(read[3].ret_code, 0);
        EXPECT_EQ(read[6].ret_code, 44002);
        EXPECT_EQ(read[6].os_version, "6.1");
        EXPECT_EQ(read[6].os_build, 7601);
        EXPECT_EQ(read[6].language, "de-DE");
        EXPECT_FALSE(read[0].ret_code);
        EXPECT_TRUE(read[9].reboot);
    }
}

TEST(CollectStore, ANewerSchemaIsRefusedNotTouched) {
    temp_folder t;
    const std::string path = (t.path / "newer.sqlite").string();
    collect::open_store(path);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version=2", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_THROW(collect::open_store(path), collect::store_refused);
}

TEST(CollectReport, CountsEachSessionOnceAndEscapesWhatEventsSay) {
    temp_folder t;
    auto store = collect::open_store((t.path / "report.sqlite").string());
    store->insert(known_events(7));
    const auto report = collect::build_report(*store, {"2026-12-09", std::nullopt, day2 + 3 * hour});
    EXPECT_EQ(collect::report_json(report),
              "{\"schema\":1,\"since\":\"2026-12-09\",\"product\":null,\"generated\":\"2026-12-10T03:00:00Z\","
              "\"events\":11,\"sessions\":5,"
              "\"funnel\":{\"started\":5,\"preparing\":4,\"master_started\":2,\"succeeded\":1,\"failed\":1},"
              "\"outcomes\":{\"succeeded\":1,\"failed\":1,\"other_exit\":2,\"no_end\":1},"
              "\"days\":[{\"date\":\"2026-12-09\",\"sessions\":2,\"succeeded\":1,\"failed\":1,\"success_rate\":0.5000},"
              "{\"date\":\"2026-12-10\",\"sessions\":3,\"succeeded\":0,\"failed\":0,\"success_rate\":0.0000}],"
              "\"exit_codes\":[{\"code\":0,\"meaning\":\"installed\",\"sessions\":1},"
              "{\"code\":1223,\"meaning\":\"the user declined the installation\",\"sessions\":1},"
              "{\"code\":44002,\"meaning\":\"a download failed\",\"sessions\":1},"
              "{\"code\":44080,\"meaning\":\"installed; a restart is required\",\"sessions\":1}],"
              "\"breakdowns\":{\"os_version\":[{\"value\":\"10.0.19045\",\"sessions\":4,\"succeeded\":1,"
              "\"success_rate\":0.2500},{\"value\":\"6.1.7601\",\"sessions\":1,\"succeeded\":0,\"success_rate\":0.0000}],"
              "\"architecture\":[{\"value\":\"AMD64\",\"sessions\":4,\"succeeded\":1,\"success_rate\":0.2500},"
              "{\"value\":\"X86\",\"sessions\":1,\"succeeded\":0,\"success_rate\":0.0000}],"
              "\"language\":[{\"value\":\"en-US\",\"sessions\":4,\"succeeded\":1,\"success_rate\":0.2500},"
              "{\"value\":\"de-DE\",\"sessions\":1,\"succeeded\":0,\"success_rate\":0.0000}],"
              "\"sfx_version\":[{\"value\":\"1.0.0.1\",\"sessions\":4,\"succeeded\":1,\"success_rate\":0.2500},"
              "{\"value\":\"1.0.0.2\",\"sessions\":1,\"succeeded\":0,\"success_rate\":0.0000}]},"
              "\"reboot\":{\"finished\":3,\"needed\":1,\"share\":0.3333}}\n");

    const auto only = collect::build_report(*store, {"2026-12-09", "<script>alert(1)</script>", day2});
    EXPECT_EQ(only.sessions, 1u);
    EXPECT_EQ(only.events, 1u);  // the events of the sessions counted, not all read
    const std::string page = collect::report_html(only);
    EXPECT_NE(page.find("Product &lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_THROW(collect::build_report(*store, {"2026-02-30", std::nullopt, 0}), std::invalid_argument);
}

TEST(CollectReceiver, AnswersEachPostAndCountsEveryRefusal) {
    temp_folder t;
    auto store = collect::open_store((t.path / "served.sqlite").string());
    collect::receiver_options options;
    options.prefix = "collect/";
    options.privacy.drop_cmdline = true;
    options.privacy.hwid_key = "a key of sixteen bytes";
    collect::receiver receiver(*store, options);
    const int port = receiver.bind();
    std::thread server([&] { receiver.run(); });
    httplib::Client client("127.0.0.1", port);
    const std::string path = "/collect/v4/receive/json/25";
    test::stub_run run;
    const std::string valid = test::stub_event("sfx-start", run);

    EXPECT_EQ(client.Post(path.c_str(), valid, "application/json")->status, 200);
    EXPECT_EQ(client.Post(path.c_str(), valid, "application/json")->status, 200);  // kept once
    EXPECT_EQ(client.Post(path.c_str(), valid.substr(1), "application/json")->status, 400);
    EXPECT_EQ(client.Post(path.c_str(), "{\"record\":[]}", "application/json")->status, 400);
    EXPECT_EQ(client.Post(path.c_str(), std::string(64 * 1024 + 1, ' '), "application/json")->status, 413);
    EXPECT_EQ(client.Post("/v4/receive/json/25", valid, "application/json")->status, 404);
    EXPECT_EQ(client.Get(path.c_str())->status, 404);
    const auto stats = client.Get("/collect/stats");
    EXPECT_EQ(stats->body,
              "{\"stored\":2,\"refused\":5,\"not_json\":1,\"wrong_shape\":1,\"too_large\":1,\"not_found\":2,"
              "\"malformed\":0,\"unavailable\":0,\"failed\":0}\n");
    receiver.stop();
    server.join();
    EXPECT_EQ(store->count(), 1u);

    // What the privacy options keep: no command line, and a hash in place of
    // the hwid.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((t.path / "served.sqlite").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT cmdline IS NULL, hwid FROM events", -1, &s, nullptr);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(s, 0), 1);
    const std::string hwid = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
    EXPECT_EQ(hwid, collect::keyed_hwid(options.privacy.hwid_key, std::string(32, 'A') + std::string(32, '0')));
    EXPECT_NE(hwid, std::string(32, 'A') + std::string(32, '0'));
    sqlite3_finalize(s);
    sqlite3_close(db);
}

}  // namespace
