// Where the receiver keeps events: SQLite in one file by default, or
// PostgreSQL when given a connection URL, so that several receivers can
// write to one database. Both take batches in one transaction each, with
// parameterised statements only, and bring their schema up to the version
// this build knows before they are used.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include "event_record.hpp"

namespace qzr::collect {

// The store could not take or give events (a full disk, a lost database
// connection). Nothing of the failed batch is kept.
struct store_unavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The database holds a schema newer than this build, or one it cannot read.
struct store_refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline constexpr int schema_version = 1;

// What a report reads of each event, in the order received.
struct stored_event {
    std::int64_t received_ms = 0;
    std::string session_id;
    std::string stage;
    std::optional<std::int32_t> ret_code;
    bool reboot = false;
    std::string product;
    std::string sfx_version;
    std::string os_version;
    std::int64_t os_build = 0;
    std::string architecture;
    std::string language;
};

struct scan_filter {
    std::int64_t since_ms = 0;  // received at or after
};

class event_store {
public:
    virtual ~event_store() = default;
    // All rows or none. A request id already stored is skipped: a client or
    // a proxy that posts the same event twice keeps one row.
    virtual void insert(std::span<const event_record> batch) = 0;
    virtual void scan(const scan_filter& filter, const std::function<void(const stored_event&)>& each) = 0;
    virtual std::uint64_t count() = 0;
    virtual int version() = 0;
};

// A PostgreSQL URL ("postgresql://..." or "postgres://...") selects
// PostgreSQL; anything else is the path of a SQLite file, made when missing.
std::unique_ptr<event_store> open_store(const std::string& target);

std::unique_ptr<event_store> open_sqlite_store(const std::string& path);
std::unique_ptr<event_store> open_postgres_store(const std::string& url);

bool names_postgres(const std::string& target);

}  // namespace qzr::collect
