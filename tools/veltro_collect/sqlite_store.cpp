// The embedded store: one SQLite file in WAL mode. A batch is one
// transaction; a commit is written to the log file before insert returns, so
// a receiver killed after answering keeps every event it acknowledged.
#include <sqlite3.h>

#include <string>

#include "event_schema.hpp"
#include "event_store.hpp"

namespace qzr::collect {

namespace {

struct statement_deleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using statement = std::unique_ptr<sqlite3_stmt, statement_deleter>;
struct database_deleter {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};

class sqlite_store final : public event_store {
public:
    explicit sqlite_store(const std::string& path) {
        sqlite3* db = nullptr;
        const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                                              SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                                       nullptr);
        holder_.reset(db);
        db_ = db;
        if (rc != SQLITE_OK) fail_open(path);
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, 10000);
        // WAL: readers (a report) never block the writer. NORMAL syncs at
        // checkpoints only; a commit still reaches the log file before it
        // returns, which a process crash does not undo.
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=NORMAL");
        migrate();
        insert_ = prepare("INSERT OR IGNORE INTO events (" + std::string(schema::insert_columns) + ") VALUES (" +
                          placeholders() + ")");
    }

    void insert(std::span<const event_record> batch) override {
        exec("BEGIN IMMEDIATE");
        try {
            for (const event_record& r : batch) insert_one(r);
            exec("COMMIT");
        } catch (...) {
            sqlite3_reset(insert_.get());
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    void scan(const scan_filter& filter, const std::function<void(const stored_event&)>& each) override {
        statement s = prepare("SELECT " + std::string(schema::scan_columns) +
                              " FROM events WHERE received_ms >= ?1 ORDER BY id");
        sqlite3_bind_int64(s.get(), 1, filter.since_ms);
        stored_event e;
        for (int rc; (rc = sqlite3_step(s.get())) != SQLITE_DONE;) {
            if (rc != SQLITE_ROW) throw store_unavailable(message("reading events"));
            e.received_ms = sqlite3_column_int64(s.get(), 0);
            e.session_id = column_text(s.get(), 1);
            e.stage = column_text(s.get(), 2);
            if (sqlite3_column_type(s.get(), 3) == SQLITE_NULL)
                e.ret_code.reset();
            else
                e.ret_code = sqlite3_column_int(s.get(), 3);
            e.reboot = sqlite3_column_int(s.get(), 4) != 0;
            e.product = column_text(s.get(), 5);
            e.sfx_version = column_text(s.get(), 6);
            e.os_version = column_text(s.get(), 7);
            e.os_build = sqlite3_column_int64(s.get(), 8);
            e.architecture = column_text(s.get(), 9);
            e.language = column_text(s.get(), 10);
            each(e);
        }
    }

    std::uint64_t count() override {
        statement s = prepare("SELECT count(*) FROM events");
        if (sqlite3_step(s.get()) != SQLITE_ROW) throw store_unavailable(message("counting events"));
        return static_cast<std::uint64_t>(sqlite3_column_int64(s.get(), 0));
    }

    int version() override {
        statement s = prepare("PRAGMA user_version");
        if (sqlite3_step(s.get()) != SQLITE_ROW) throw store_unavailable(message("reading the schema version"));
        return sqlite3_column_int(s.get(), 0);
    }

private:
    [[noreturn]] void fail_open(const std::string& path) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        throw store_unavailable("cannot open the SQLite database " + path + ": " + why);
    }

    std::string message(const std::string& doing) const { return "SQLite, " + doing + ": " + sqlite3_errmsg(db_); }

    static std::string placeholders() {
        std::string p;
        for (int i = 1; i <= schema::insert_column_count; ++i) p += (i > 1 ? ",?" : "?") + std::to_string(i);
        return p;
    }

    static std::string column_text(sqlite3_stmt* s, int i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
        return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(s, i))) : std::string();
    }

    statement prepare(const std::string& sql) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &s, nullptr) != SQLITE_OK)
            throw store_unavailable(message("preparing a statement"));
        return statement(s);
    }

    void exec(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string why = error ? error : sqlite3_errmsg(db_);
            sqlite3_free(error);
            throw store_unavailable("SQLite, " + sql + ": " + why);
        }
    }

    // Brings the file to schema_version, one step per transaction.
    void migrate() {
        int at = version();
        if (at > schema_version)
            throw store_refused("the SQLite database has schema version " + std::to_string(at) +
                                ", newer than this build's " + std::to_string(schema_version));
        const auto& steps = schema::sqlite_steps();
        while (at < schema_version) {
            exec("BEGIN IMMEDIATE");
            try {
                // Another receiver on the same file may have moved it on.
                if (version() == at) {
                    for (const std::string_view sql : steps[static_cast<std::size_t>(at)]) exec(std::string(sql));
                    exec("PRAGMA user_version=" + std::to_string(at + 1));
                }
                exec("COMMIT");
            } catch (...) {
                sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
            at = version();
        }
    }

    void bind_text(int i, const std::string& text) {
        sqlite3_bind_text(insert_.get(), i, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    }
    void bind_int(int i, std::int64_t value) { sqlite3_bind_int64(insert_.get(), i, value); }
    template <class T>
    void bind_optional(int i, const std::optional<T>& value) {
        if (value) {
            if constexpr (std::is_same_v<T, std::string>)
                bind_text(i, *value);
            else
                bind_int(i, static_cast<std::int64_t>(*value));
        } else {
            sqlite3_bind_null(insert_.get(), i);
        }
    }

    void insert_one(const event_record& r) {
        sqlite3_stmt* s = insert_.get();
        bind_int(1, r.received_ms);
        bind_int(2, r.event_ms);
        bind_text(3, r.request_id);
        bind_text(4, r.session_id);
        bind_text(5, r.stage);
        bind_text(6, r.operation);
        bind_text(7, r.title);
        bind_optional(8, r.ret_code);
        bind_optional(9, r.reboot);
        bind_text(10, r.product);
        bind_text(11, r.channel);
        bind_int(12, r.product_count);
        bind_text(13, r.sfx_version);
        bind_text(14, r.app_version);
        bind_int(15, r.edition);
        bind_text(16, r.os_version);
        bind_int(17, r.os_build);
        bind_text(18, r.architecture);
        bind_text(19, r.language);
        bind_int(20, r.time_zone);
        bind_int(21, r.memory_mib);
        bind_int(22, r.processors);
        bind_int(23, r.workstation ? 1 : 0);
        bind_optional(24, r.disk_available_mib);
        bind_text(25, r.hwid);
        bind_text(26, r.aiid);
        bind_text(27, r.trigger);
        bind_optional(28, r.cmdline);
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        if (rc != SQLITE_DONE) throw store_unavailable(message("storing an event"));
    }

    // Closed last, after the statement (members go in reverse order), and
    // also when the constructor throws.
    std::unique_ptr<sqlite3, database_deleter> holder_;
    sqlite3* db_ = nullptr;
    statement insert_;
};

}  // namespace

std::unique_ptr<event_store> open_sqlite_store(const std::string& path) { return std::make_unique<sqlite_store>(path); }

bool names_postgres(const std::string& target) {
    return target.starts_with("postgresql://") || target.starts_with("postgres://");
}

std::unique_ptr<event_store> open_store(const std::string& target) {
    return names_postgres(target) ? open_postgres_store(target) : open_sqlite_store(target);
}

}  // namespace qzr::collect
