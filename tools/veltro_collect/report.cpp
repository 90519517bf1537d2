#include "report.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <unordered_map>

#include "veltro_sfx_lib/run/sfx_exceptions.hpp"

namespace qzr::collect {

namespace {

namespace codes = sfx::exceptions;

// What the stub's own codes mean to someone reading a report.
struct meaning_row {
    std::int32_t code;
    const char* meaning;
};
constexpr meaning_row meanings[] = {
    {0, "installed"},
    {1, "the stub failed for an unexpected reason (see sfx.log)"},
    {codes::insufficient_integrity_level_code, "not started elevated"},
    {codes::unsupported_file_format_code, "an installer file is in a format the stub does not read"},
    {codes::invalid_payload_code, "the installer's payload is damaged"},
    {codes::ppi_cancel_code, "the user declined the installation"},
    {codes::download_fail_exit_code, "a download failed"},
    {codes::sfx_invalid_signature_code, "a signature is missing or wrong (the installer or a download)"},
    {codes::missing_sfx_exit_code, "a file the installer needs is missing from it"},
    {codes::restart_required_code, "installed; a restart is required"},
    {codes::unsupported_os_code, "the operating system is not supported"},
    {static_cast<std::int32_t>(0xE06D7363u), "the setup master ended on an unhandled exception"},
};

enum stage_rank { no_stage = 0, started_rank = 1, preparing_rank = 2, master_rank = 3, finish_rank = 4 };

int rank_of(const std::string& stage) {
    if (stage == "sfx-start") return started_rank;
    if (stage == "sfx-preparing") return preparing_rank;
    if (stage == "sfx-running-veltro") return master_rank;
    if (stage == "sfx-finish") return finish_rank;
    return no_stage;
}

struct session {
    std::int64_t first_ms = 0;
    int highest = no_stage;
    bool master_started = false;
    enum class end { none, finished, failed } ended = end::none;
    std::int32_t code = 0;
    bool reboot = false;
    bool product_seen = false;
    std::uint64_t events = 0;
    // From the latest event that names them.
    std::string os_version, architecture, language, sfx_version;
};

std::vector<report_data::share> ranked(const std::map<std::string, report_data::share>& values) {
    std::vector<report_data::share> rows;
    for (const auto& [key, row] : values) rows.push_back(row);
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.sessions > b.sessions; });
    if (rows.size() > top_values) {
        report_data::share other{"other", 0, 0};
        for (std::size_t i = top_values - 1; i < rows.size(); ++i) {
            other.sessions += rows[i].sessions;
            other.succeeded += rows[i].succeeded;
        }
        rows.resize(top_values - 1);
        rows.push_back(other);
    }
    return rows;
}

void keep_if_named(std::string& into, const std::string& value) {
    if (!value.empty()) into = value;
}

}  // namespace

std::string exit_code_meaning(std::int32_t code) {
    for (const auto& row : meanings)
        if (row.code == code) return row.meaning;
    return "";
}

std::optional<std::int64_t> parse_day(const std::string& text) {
    unsigned y = 0, m = 0, d = 0;
    char tail = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
        std::sscanf(text.c_str(), "%4u-%2u-%2u%c", &y, &m, &d, &tail) != 3)
        return std::nullopt;
    for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    using namespace std::chrono;
    const year_month_day ymd{year{static_cast<int>(y)}, month{m}, day{d}};
    if (!ymd.ok() || y < 1970) return std::nullopt;
    return duration_cast<milliseconds>(sys_days(ymd).time_since_epoch()).count();
}

std::string format_day(std::int64_t ms) {
    using namespace std::chrono;
    const year_month_day ymd{floor<days>(sys_time<milliseconds>(milliseconds(ms)))};
    char out[16];
    std::snprintf(out, sizeof out, "%04d-%02u-%02u", static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()));
    return out;
}

report_data build_report(event_store& store, const report_request& request) {
    const auto since = parse_day(request.since);
    if (!since) throw std::invalid_argument("--since takes a day as YYYY-MM-DD, not " + request.since);
    report_data report;
    report.since = request.since;
    report.product = request.product;
    {
        using namespace std::chrono;
        const auto now = sys_time<milliseconds>(milliseconds(request.now_ms));
        const auto seconds_of_day = duration_cast<seconds>(now - floor<days>(now)).count();
        char clock[40];
        std::snprintf(clock, sizeof clock, "T%02lld:%02lld:%02lldZ", static_cast<long long>(seconds_of_day / 3600),
                      static_cast<long long>(seconds_of_day / 60 % 60), static_cast<long long>(seconds_of_day % 60));
        report.generated = format_day(request.now_ms) + clock;
    }

    // Sessions in the order they were first seen.
    std::unordered_map<std::string, std::size_t> index;
    std::vector<session> sessions;
    store.scan({*since}, [&](const stored_event& e) {
        auto [at, fresh] = index.try_emplace(e.session_id, sessions.size());
        if (fresh) sessions.push_back({.first_ms = e.received_ms});
        session& s = sessions[at->second];
        ++s.events;
        s.highest = std::max(s.highest, rank_of(e.stage));
        if (e.stage == "sfx-running-veltro") s.master_started = true;
        if (e.stage == "sfx-finish" || e.stage == "sfx-fail") {
            s.ended = e.stage == "sfx-finish" ? session::end::finished : session::end::failed;
            s.code = e.ret_code.value_or(0);
            s.reboot = e.stage == "sfx-finish" && e.reboot;
        }
        if (request.product && e.product == *request.product) s.product_seen = true;
        keep_if_named(s.os_version, e.os_version + "." + std::to_string(e.os_build));
        keep_if_named(s.architecture, e.architecture);
        keep_if_named(s.language, e.language);
        keep_if_named(s.sfx_version, e.sfx_version);
    });

    std::map<std::string, report_data::day> days;
    std::map<std::int32_t, std::uint64_t> exit_codes;
    std::map<std::string, report_data::share> os_versions, architectures, languages, sfx_versions;
    for (const session& s : sessions) {
        if (request.product && !s.product_seen) continue;
        ++report.sessions;
        report.events += s.events;
        const bool succeeded = s.ended == session::end::finished && s.code == 0;
        const bool failed = s.ended == session::end::failed;
        auto& f = report.funnel;
        ++f.started;
        if (s.highest >= preparing_rank) ++f.preparing;
        if (s.master_started) ++f.master_started;
        if (succeeded) ++f.succeeded;
        if (failed) ++f.failed;
        auto& o = report.outcomes;
        if (succeeded)
            ++o.succeeded;
        else if (failed)
            ++o.failed;
        else if (s.ended == session::end::finished)
            ++o.other_exit;
        else
            ++o.no_end;
        if (s.ended != session::end::none) ++exit_codes[s.code];
        if (s.ended == session::end::finished) {
            ++report.finished;
            if (s.reboot) ++report.reboot_needed;
        }
        auto& d = days[format_day(s.first_ms)];
        d.date = format_day(s.first_ms);
        ++d.sessions;
        if (succeeded) ++d.succeeded;
        if (failed) ++d.failed;
        const auto tally = [succeeded](std::map<std::string, report_data::share>& into, const std::string& value) {
            auto& row = into[value];
            row.value = value.empty() ? "unknown" : value;
            ++row.sessions;
            if (succeeded) ++row.succeeded;
        };
        tally(os_versions, s.os_version);
        tally(architectures, s.architecture);
        tally(languages, s.language);
        tally(sfx_versions, s.sfx_version);
    }
    for (const auto& [date, d] : days) report.days.push_back(d);
    for (const auto& [code, n] : exit_codes) report.exit_codes.push_back({code, exit_code_meaning(code), n});
    std::stable_sort(report.exit_codes.begin(), report.exit_codes.end(),
                     [](const auto& a, const auto& b) { return a.sessions > b.sessions; });
    if (report.exit_codes.size() > top_exit_codes) report.exit_codes.resize(top_exit_codes);
    report.os_versions = ranked(os_versions);
    report.architectures = ranked(architectures);
    report.languages = ranked(languages);
    report.sfx_versions = ranked(sfx_versions);
    return report;
}

}  // namespace qzr::collect
