// The events table in both dialects, and the steps that bring a database from
// one schema version to the next. Version N is reached by running step N-1
// in the transaction that records N; a database is never left between two.
#pragma once

#include <string_view>
#include <vector>

namespace qzr::collect::schema {

// The columns an insert writes, in the order both stores bind them.
inline constexpr std::string_view insert_columns =
    "received_ms, event_ms, request_id, session_id, stage, operation, title, ret_code, reboot, "
    "product, channel, product_count, sfx_version, app_version, edition, os_version, os_build, "
    "architecture, language, time_zone, memory_mib, processors, workstation, disk_available_mib, "
    "hwid, aiid, launched_by, cmdline";
inline constexpr int insert_column_count = 28;

// What a report reads, in the order stored_event is filled.
inline constexpr std::string_view scan_columns =
    "received_ms, session_id, stage, ret_code, reboot, product, sfx_version, os_version, os_build, "
    "architecture, language";

// Each entry is one version's step: its statements, run in order.
using steps = std::vector<std::vector<std::string_view>>;

inline const steps& sqlite_steps() {
    static const steps all = {{
        "CREATE TABLE events ("
        " id INTEGER PRIMARY KEY,"
        " received_ms INTEGER NOT NULL, event_ms INTEGER NOT NULL,"
        " request_id TEXT NOT NULL UNIQUE, session_id TEXT NOT NULL, stage TEXT NOT NULL,"
        " operation TEXT NOT NULL, title TEXT NOT NULL, ret_code INTEGER, reboot INTEGER,"
        " product TEXT NOT NULL, channel TEXT NOT NULL, product_count INTEGER NOT NULL,"
        " sfx_version TEXT NOT NULL, app_version TEXT NOT NULL, edition INTEGER NOT NULL,"
        " os_version TEXT NOT NULL, os_build INTEGER NOT NULL, architecture TEXT NOT NULL,"
        " language TEXT NOT NULL, time_zone INTEGER NOT NULL, memory_mib INTEGER NOT NULL,"
        " processors INTEGER NOT NULL, workstation INTEGER NOT NULL, disk_available_mib INTEGER,"
        " hwid TEXT NOT NULL, aiid TEXT NOT NULL, launched_by TEXT NOT NULL, cmdline TEXT)",
        "CREATE INDEX events_received ON events (received_ms)",
    }};
    return all;
}

inline const steps& postgres_steps() {
    static const steps all = {{
        "CREATE TABLE events ("
        " id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
        " received_ms BIGINT NOT NULL, event_ms BIGINT NOT NULL,"
        " request_id TEXT NOT NULL UNIQUE, session_id TEXT NOT NULL, stage TEXT NOT NULL,"
        " operation TEXT NOT NULL, title TEXT NOT NULL, ret_code INTEGER, reboot BOOLEAN,"
        " product TEXT NOT NULL, channel TEXT NOT NULL, product_count INTEGER NOT NULL,"
        " sfx_version TEXT NOT NULL, app_version TEXT NOT NULL, edition INTEGER NOT NULL,"
        " os_version TEXT NOT NULL, os_build BIGINT NOT NULL, architecture TEXT NOT NULL,"
        " language TEXT NOT NULL, time_zone INTEGER NOT NULL, memory_mib BIGINT NOT NULL,"
        " processors INTEGER NOT NULL, workstation BOOLEAN NOT NULL, disk_available_mib BIGINT,"
        " hwid TEXT NOT NULL, aiid TEXT NOT NULL, launched_by TEXT NOT NULL, cmdline TEXT)",
        "CREATE INDEX events_received ON events (received_ms)",
    }};
    return all;
}

}  // namespace qzr::collect::schema
