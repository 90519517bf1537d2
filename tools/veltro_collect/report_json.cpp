// The report for scripts. Its shape is a promise (docs/collect.md): keys are
// only ever added, and "schema" grows when one changes meaning.
#include <cstdio>

#include "report.hpp"

namespace qzr::collect {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
        } else {
            out += static_cast<char>(c);  // stored text is valid UTF-8: the receiver checked it
        }
    }
    return out + "\"";
}

std::string rate(std::uint64_t part, std::uint64_t whole) {
    if (whole == 0) return "null";
    char out[32];
    std::snprintf(out, sizeof out, "%.4f", static_cast<double>(part) / static_cast<double>(whole));
    return out;
}

std::string n(std::uint64_t value) { return std::to_string(value); }

std::string shares(const std::vector<report_data::share>& rows) {
    std::string out = "[";
    for (const auto& r : rows) {
        if (out.size() > 1) out += ",";
        out += "{\"value\":" + quoted(r.value) + ",\"sessions\":" + n(r.sessions) + ",\"succeeded\":" + n(r.succeeded) +
               ",\"success_rate\":" + rate(r.succeeded, r.sessions) + "}";
    }
    return out + "]";
}

}  // namespace

std::string report_json(const report_data& r) {
    std::string out = "{\"schema\":1";
    out += ",\"since\":" + quoted(r.since);
    out += ",\"product\":" + (r.product ? quoted(*r.product) : std::string("null"));
    out += ",\"generated\":" + quoted(r.generated);
    out += ",\"events\":" + n(r.events) + ",\"sessions\":" + n(r.sessions);
    const auto& f = r.funnel;
    out += ",\"funnel\":{\"started\":" + n(f.started) + ",\"preparing\":" + n(f.preparing) +
           ",\"master_started\":" + n(f.master_started) + ",\"succeeded\":" + n(f.succeeded) +
           ",\"failed\":" + n(f.failed) + "}";
    const auto& o = r.outcomes;
    out += ",\"outcomes\":{\"succeeded\":" + n(o.succeeded) + ",\"failed\":" + n(o.failed) +
           ",\"other_exit\":" + n(o.other_exit) + ",\"no_end\":" + n(o.no_end) + "}";
    out += ",\"days\":[";
    for (std::size_t i = 0; i < r.days.size(); ++i) {
        const auto& d = r.days[i];
        out += (i ? ",{" : "{") + std::string("\"date\":") + quoted(d.date) + ",\"sessions\":" + n(d.sessions) +
               ",\"succeeded\":" + n(d.succeeded) + ",\"failed\":" + n(d.failed) +
               ",\"success_rate\":" + rate(d.succeeded, d.sessions) + "}";
    }
    out += "],\"exit_codes\":[";
    for (std::size_t i = 0; i < r.exit_codes.size(); ++i) {
        const auto& c = r.exit_codes[i];
        out += (i ? ",{" : "{") + std::string("\"code\":") + std::to_string(c.code) +
               ",\"meaning\":" + quoted(c.meaning) + ",\"sessions\":" + n(c.sessions) + "}";
    }
    out += "],\"breakdowns\":{\"os_version\":" + shares(r.os_versions) + ",\"architecture\":" + shares(r.architectures) +
           ",\"language\":" + shares(r.languages) + ",\"sfx_version\":" + shares(r.sfx_versions) + "}";
    out += ",\"reboot\":{\"finished\":" + n(r.finished) + ",\"needed\":" + n(r.reboot_needed) +
           ",\"share\":" + rate(r.reboot_needed, r.finished) + "}";
    return out + "}\n";
}

}  // namespace qzr::collect
