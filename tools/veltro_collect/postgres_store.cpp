// The shared store: PostgreSQL, for vendors that run several receivers
// behind a load balancer. Every statement is parameterised; a batch is one
// multi-row insert per thousand events inside one transaction; a lost
// connection is made again at the next batch.
#include <pqxx/pqxx>

#include <deque>
#include <string>
#include <vector>

#include "event_schema.hpp"
#include "event_store.hpp"

namespace qzr::collect {

namespace {

// Rows per insert statement: 28 parameters each, well inside PostgreSQL's
// 65,535.
constexpr std::size_t rows_per_statement = 1000;
// Rows a report reads per round trip.
constexpr int rows_per_page = 10000;
// The advisory lock that keeps two receivers from migrating at once.
constexpr long long migration_lock = 0x76656c74;

class postgres_store final : public event_store {
public:
    explicit postgres_store(const std::string& url) : url_(url) {
        try {
            connect();
            migrate();
        } catch (const pqxx::broken_connection& e) {
            throw store_unavailable(std::string("cannot connect to PostgreSQL: ") + e.what());
        } catch (const pqxx::sql_error& e) {
            throw store_unavailable(std::string("PostgreSQL, preparing the schema: ") + e.what());
        }
    }

    void insert(std::span<const event_record> batch) override {
        run("storing events", [&](pqxx::work& w) {
            for (std::size_t at = 0; at < batch.size(); at += rows_per_statement)
                insert_rows(w, batch.subspan(at, std::min(rows_per_statement, batch.size() - at)));
        });
    }

    void scan(const scan_filter& filter, const std::function<void(const stored_event&)>& each) override {
        const std::string sql = "SELECT id, " + std::string(schema::scan_columns) +
                                " FROM events WHERE received_ms >= $1 AND id > $2 ORDER BY id LIMIT " +
                                std::to_string(rows_per_page);
        long long after = 0;
        for (bool more = true; more;) {
            pqxx::result page;
            run("reading events", [&](pqxx::work& w) { page = w.exec_params(sql, filter.since_ms, after); });
            more = page.size() == static_cast<std::size_t>(rows_per_page);
            stored_event e;
            for (const auto& row : page) {
                after = row[0].as<long long>();
                e.received_ms = row[1].as<std::int64_t>();
                e.session_id = row[2].c_str();
                e.stage = row[3].c_str();
                if (row[4].is_null())
                    e.ret_code.reset();
                else
                    e.ret_code = row[4].as<std::int32_t>();
                e.reboot = !row[5].is_null() && row[5].as<bool>();
                e.product = row[6].c_str();
                e.sfx_version = row[7].c_str();
                e.os_version = row[8].c_str();
                e.os_build = row[9].as<std::int64_t>();
                e.architecture = row[10].c_str();
                e.language = row[11].c_str();
                each(e);
            }
        }
    }

    std::uint64_t count() override {
        std::uint64_t n = 0;
        run("counting events", [&](pqxx::work& w) { n = w.exec("SELECT count(*) FROM events")[0][0].as<std::uint64_t>(); });
        return n;
    }

    int version() override {
        int v = 0;
        run("reading the schema version", [&](pqxx::work& w) { v = read_version(w); });
        return v;
    }

private:
    void connect() { connection_ = std::make_unique<pqxx::connection>(url_); }

    // One transaction; any failure of the database or of the connection is
    // the store being unavailable, and the transaction is rolled back.
    template <class F>
    void run(const char* doing, F&& body) {
        try {
            if (!connection_ || !connection_->is_open()) connect();
            pqxx::work w(*connection_);
            body(w);
            w.commit();
        } catch (const pqxx::broken_connection& e) {
            connection_.reset();
            throw store_unavailable(std::string("PostgreSQL, ") + doing + ": connection lost: " + e.what());
        } catch (const pqxx::in_doubt_error& e) {
            connection_.reset();
            throw store_unavailable(std::string("PostgreSQL, ") + doing + ": commit in doubt: " + e.what());
        } catch (const pqxx::sql_error& e) {
            throw store_unavailable(std::string("PostgreSQL, ") + doing + ": " + e.what());
        }
    }

    static int read_version(pqxx::work& w) {
        w.exec("CREATE TABLE IF NOT EXISTS veltro_schema (version INTEGER NOT NULL)");
        return w.exec("SELECT coalesce(max(version), 0) FROM veltro_schema")[0][0].as<int>();
    }

    void migrate() {
        pqxx::work w(*connection_);
        w.exec_params("SELECT pg_advisory_xact_lock($1)", migration_lock);
        int at = read_version(w);
        if (at > schema_version)
            throw store_refused("the PostgreSQL database has schema version " + std::to_string(at) +
                                ", newer than this build's " + std::to_string(schema_version));
        const auto& steps = schema::postgres_steps();
        for (; at < schema_version; ++at) {
            for (const std::string_view sql : steps[static_cast<std::size_t>(at)]) w.exec(std::string(sql));
            w.exec_params("INSERT INTO veltro_schema (version) VALUES ($1)", at + 1);
        }
        w.commit();
    }

    static void insert_rows(pqxx::work& w, std::span<const event_record> rows) {
        std::string sql = "INSERT INTO events (" + std::string(schema::insert_columns) + ") VALUES ";
        // Every value goes as text; PostgreSQL reads it as its column's type.
        // The texts live in a deque, which never moves what it holds.
        std::deque<std::string> texts;
        std::vector<const char*> values;
        values.reserve(rows.size() * schema::insert_column_count);
        const auto text = [&](std::string s) { values.push_back(texts.emplace_back(std::move(s)).c_str()); };
        const auto number = [&](std::int64_t n) { text(std::to_string(n)); };
        const auto null = [&] { values.push_back(nullptr); };
        int parameter = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            sql += i ? ",(" : "(";
            for (int c = 0; c < schema::insert_column_count; ++c) sql += (c ? ",$" : "$") + std::to_string(++parameter);
            sql += ")";
            const event_record& r = rows[i];
            number(r.received_ms);
            number(r.event_ms);
            text(r.request_id);
            text(r.session_id);
            text(r.stage);
            text(r.operation);
            text(r.title);
            if (r.ret_code) number(*r.ret_code); else null();
            if (r.reboot) text(*r.reboot ? "true" : "false"); else null();
            text(r.product);
            text(r.channel);
            number(r.product_count);
            text(r.sfx_version);
            text(r.app_version);
            number(r.edition);
            text(r.os_version);
            number(r.os_build);
            text(r.architecture);
            text(r.language);
            number(r.time_zone);
            number(r.memory_mib);
            number(r.processors);
            text(r.workstation ? "true" : "false");
            if (r.disk_available_mib) number(*r.disk_available_mib); else null();
            text(r.hwid);
            text(r.aiid);
            text(r.trigger);
            if (r.cmdline) text(*r.cmdline); else null();
        }
        sql += " ON CONFLICT (request_id) DO NOTHING";
        w.exec_params(sql, pqxx::prepare::make_dynamic_params(values));
    }

    std::string url_;
    std::unique_ptr<pqxx::connection> connection_;
};

}  // namespace

std::unique_ptr<event_store> open_postgres_store(const std::string& url) {
    return std::make_unique<postgres_store>(url);
}

}  // namespace qzr::collect
