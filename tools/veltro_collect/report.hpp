// The report: of the sessions that started since a day, how many got the
// product, and where and why the rest stopped. Built from the stored events
// of each session, whichever store holds them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "event_store.hpp"

namespace qzr::collect {

// What an exit code of a run means, from the stub's own code table; empty
// for codes the stub does not give itself (the setup master's).
std::string exit_code_meaning(std::int32_t code);

struct report_request {
    std::string since;  // YYYY-MM-DD, UTC
    std::optional<std::string> product;
    std::int64_t now_ms = 0;
};

// "2026-12-01" as milliseconds since 1970 at 00:00 UTC; nullopt for
// anything that is not a real date of that form.
std::optional<std::int64_t> parse_day(const std::string& day);
std::string format_day(std::int64_t ms);

struct report_data {
    struct funnel_counts {
        // A session counts as preparing when sfx-preparing, or a later stage
        // (sfx-running-veltro, sfx-finish), arrived: a run's first stages go
        // to the stub's built-in address, which may not be this receiver.
        // The setup master counts as started only on sfx-running-veltro
        // itself: a declined dialog ends with sfx-finish without one.
        std::uint64_t started = 0, preparing = 0, master_started = 0, succeeded = 0, failed = 0;
    };
    struct outcome_counts {
        std::uint64_t succeeded = 0;   // sfx-finish with 0
        std::uint64_t failed = 0;      // sfx-fail
        std::uint64_t other_exit = 0;  // sfx-finish with another code (a declined dialog: 1223)
        std::uint64_t no_end = 0;      // neither, yet
    };
    struct day {
        std::string date;
        std::uint64_t sessions = 0, succeeded = 0, failed = 0;
    };
    struct exit_code {
        std::int32_t code = 0;
        std::string meaning;
        std::uint64_t sessions = 0;
    };
    struct share {
        std::string value;
        std::uint64_t sessions = 0, succeeded = 0;
    };

    std::string since;
    std::optional<std::string> product;
    std::string generated;  // ISO 8601, UTC
    std::uint64_t events = 0;    // of the sessions counted
    std::uint64_t sessions = 0;
    funnel_counts funnel;
    outcome_counts outcomes;
    std::vector<day> days;               // in date order
    std::vector<exit_code> exit_codes;   // most sessions first, at most top_exit_codes
    std::vector<share> os_versions, architectures, languages, sfx_versions;  // most sessions first
    std::uint64_t finished = 0, reboot_needed = 0;  // sessions with sfx-finish, and of them asking a restart
};

inline constexpr std::size_t top_exit_codes = 10;
inline constexpr std::size_t top_values = 12;  // per breakdown; the rest are summed as "other"

report_data build_report(event_store& store, const report_request& request);

// The report for scripts: JSON, schema in docs/collect.md.
std::string report_json(const report_data& report);
// The report for people: one self-contained HTML page, charts drawn as SVG,
// no script, every value from an event escaped.
std::string report_html(const report_data& report);

}  // namespace qzr::collect
