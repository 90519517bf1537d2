// The report for people: one HTML file that needs nothing else. Charts are
// SVG drawn here; the page carries no script and forbids any, and every text
// that came from an event goes through escape().
#include <algorithm>
#include <cstdio>

#include "report.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"

namespace qzr::collect {

namespace {

std::string escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string percent(std::uint64_t part, std::uint64_t whole) {
    if (whole == 0) return "–";
    char out[16];
    std::snprintf(out, sizeof out, "%.1f %%", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return out;
}

double fraction(std::uint64_t part, std::uint64_t whole) {
    return whole ? static_cast<double>(part) / static_cast<double>(whole) : 0.0;
}

std::string px(double value) {
    char out[32];
    std::snprintf(out, sizeof out, "%.1f", value);
    return out;
}

const char* const style =
    "body{font:14px/1.4 'DejaVu Sans',Arial,sans-serif;color:#1d2330;margin:24px 32px;max-width:1000px}"
    "h1{font-size:22px;margin:0 0 4px}h2{font-size:16px;margin:28px 0 8px;border-bottom:1px solid #d5dae3;"
    "padding-bottom:4px}h3{font-size:14px;margin:12px 0 4px}p.sub{color:#5b6475;margin:0 0 12px}"
    "table{border-collapse:collapse;margin:4px 0}"
    "td,th{padding:3px 10px 3px 0;text-align:left;vertical-align:middle}th{color:#5b6475;font-weight:normal}"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}.grid{display:flex;flex-wrap:wrap;gap:8px 40px}"
    "svg text{font:12px 'DejaVu Sans',Arial,sans-serif;fill:#1d2330}";

// A horizontal bar of the given fraction, for table cells.
std::string cell_bar(double share, const char* colour) {
    const double w = 160.0 * std::clamp(share, 0.0, 1.0);
    return "<svg width=\"160\" height=\"12\" role=\"img\"><rect width=\"160\" height=\"12\" fill=\"#eef1f6\"/>"
           "<rect width=\"" + px(w) + "\" height=\"12\" fill=\"" + colour + "\"/></svg>";
}

// Codes that mean the product was installed, drawn green like the funnel's
// "finished with 0".
bool installed(std::int32_t code) { return code == 0 || code == sfx::exceptions::restart_required_code; }

std::string funnel_chart(const report_data& r) {
    const auto& f = r.funnel;
    const struct {
        const char* label;
        std::uint64_t count;
        const char* colour;
    } rows[] = {
        {"started", f.started, "#5b7bd5"},
        {"preparing", f.preparing, "#5b7bd5"},
        {"setup master started", f.master_started, "#5b7bd5"},
        {"finished with 0", f.succeeded, "#3a9d5d"},
        {"failed", f.failed, "#c8483b"},
    };
    const int row_h = 30, label_w = 170, bar_w = 520;
    std::string svg = "<svg width=\"" + std::to_string(label_w + bar_w + 130) + "\" height=\"" +
                      std::to_string(row_h * 5 + 4) + "\" role=\"img\" aria-label=\"funnel by session\">";
    int y = 2;
    for (const auto& row : rows) {
        const double w = bar_w * fraction(row.count, f.started);
        svg += "<text x=\"0\" y=\"" + std::to_string(y + 17) + "\">" + row.label + "</text>";
        svg += "<rect x=\"" + std::to_string(label_w) + "\" y=\"" + std::to_string(y + 3) + "\" width=\"" +
               std::to_string(bar_w) + "\" height=\"20\" fill=\"#eef1f6\"/>";
        svg += "<rect x=\"" + std::to_string(label_w) + "\" y=\"" + std::to_string(y + 3) + "\" width=\"" + px(w) +
               "\" height=\"20\" fill=\"" + row.colour + "\"/>";
        svg += "<text x=\"" + std::to_string(label_w + bar_w + 8) + "\" y=\"" + std::to_string(y + 17) + "\">" +
               std::to_string(row.count) + " (" + percent(row.count, f.started) + ")</text>";
        y += row_h;
    }
    return svg + "</svg>";
}

std::string days_chart(const report_data& r) {
    if (r.days.empty()) return "<p>No sessions.</p>";
    const int plot_h = 160, top = 20, bottom = 58, left = 40;
    // However many days, the chart keeps to the page's width, and labels
    // only as many days as fit side by side once turned.
    const int step = std::clamp(760 / static_cast<int>(r.days.size()), 1, 56);
    const int bar = std::max(1, step * 2 / 3);
    const int label_every = (18 + step - 1) / step;
    const int width = left + step * static_cast<int>(r.days.size()) + 10;
    std::string svg = "<svg width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(top + plot_h + bottom) +
                      "\" role=\"img\" aria-label=\"success rate per day\">";
    for (const int pct : {0, 50, 100}) {
        const int y = top + plot_h - plot_h * pct / 100;
        svg += "<line x1=\"" + std::to_string(left) + "\" x2=\"" + std::to_string(width) + "\" y1=\"" +
               std::to_string(y) + "\" y2=\"" + std::to_string(y) + "\" stroke=\"#d5dae3\"/>";
        svg += "<text x=\"0\" y=\"" + std::to_string(y + 4) + "\">" + std::to_string(pct) + "%</text>";
    }
    int x = left + (step - bar) / 2, i = 0;
    for (const auto& d : r.days) {
        const double share = fraction(d.succeeded, d.sessions);
        const double h = plot_h * share;
        svg += "<rect x=\"" + std::to_string(x) + "\" y=\"" + px(top + plot_h - h) + "\" width=\"" +
               std::to_string(bar) + "\" height=\"" + px(h) + "\" fill=\"#3a9d5d\"><title>" + escape(d.date) + ": " +
               std::to_string(d.succeeded) + " of " + std::to_string(d.sessions) + "</title></rect>";
        if (step >= 28)
            svg += "<text x=\"" + std::to_string(x + bar / 2) + "\" y=\"" + px(top + plot_h - h - 4) +
                   "\" text-anchor=\"middle\">" + std::to_string(static_cast<int>(share * 100 + 0.5)) + "</text>";
        const int lx = x + bar / 2, ly = top + plot_h + 12;
        if (i++ % label_every == 0)
            svg += "<text x=\"" + std::to_string(lx) + "\" y=\"" + std::to_string(ly) + "\" text-anchor=\"end\" transform=\"rotate(-45 " +
                   std::to_string(lx) + " " + std::to_string(ly) + ")\">" + escape(d.date.substr(5)) + "</text>";
        x += step;
    }
    return svg + "</svg>";
}

std::string share_table(const char* title, const std::vector<report_data::share>& rows, std::uint64_t total) {
    std::string out = "<div><h3>" + std::string(title) +
                      "</h3><table><tr><th></th><th>sessions</th><th></th><th>installed</th></tr>";
    for (const auto& row : rows)
        out += "<tr><td>" + escape(row.value) + "</td><td class=\"n\">" + std::to_string(row.sessions) + "</td><td>" +
               cell_bar(fraction(row.sessions, total), "#5b7bd5") + "</td><td class=\"n\">" +
               percent(row.succeeded, row.sessions) + "</td></tr>";
    return out + "</table></div>";
}

}  // namespace

std::string report_html(const report_data& r) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">"
        "<title>Installer report since " + escape(r.since) + "</title><style>" + style + "</style></head><body>\n";
    page += "<h1>Installer runs since " + escape(r.since) + "</h1>\n<p class=\"sub\">";
    page += r.product ? "Product " + escape(*r.product) : std::string("All products");
    const auto counted = [](std::uint64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    page += " · " + counted(r.sessions, "session", "sessions") + " from " + counted(r.events, "event", "events") + " · made " +
            escape(r.generated) + "</p>\n";

    page += "<h2>Funnel by session</h2>\n" + funnel_chart(r) + "\n";
    const auto& o = r.outcomes;
    page += "<p>Ended: " + std::to_string(o.succeeded) + " installed, " + std::to_string(o.failed) + " failed, " +
            std::to_string(o.other_exit) + " finished with another code, " + std::to_string(o.no_end) +
            " without an end seen.</p>\n";

    page += "<h2>Success rate per day</h2>\n" + days_chart(r) + "\n";

    page += "<h2>Top exit codes</h2>\n<table><tr><th>code</th><th>meaning</th><th>sessions</th><th></th></tr>";
    std::uint64_t ended = 0;
    for (const auto& c : r.exit_codes) ended += c.sessions;
    for (const auto& c : r.exit_codes)
        page += "<tr><td class=\"n\">" + std::to_string(c.code) + "</td><td>" +
                (c.meaning.empty() ? std::string("the setup master's own code") : escape(c.meaning)) +
                "</td><td class=\"n\">" + std::to_string(c.sessions) + "</td><td>" +
                cell_bar(fraction(c.sessions, ended), installed(c.code) ? "#3a9d5d" : "#c8483b") + "</td></tr>";
    page += "</table>\n";

    page += "<h2>Breakdowns</h2>\n<div class=\"grid\">";
    page += share_table("Windows version", r.os_versions, r.sessions);
    page += share_table("Architecture", r.architectures, r.sessions);
    page += share_table("Language", r.languages, r.sessions);
    page += share_table("Stub version", r.sfx_versions, r.sessions);
    page += "</div>\n";

    page += "<h2>Restarts</h2>\n<p>" + std::to_string(r.reboot_needed) + " of " + std::to_string(r.finished) +
            " finished runs needed a restart (" + percent(r.reboot_needed, r.finished) + ").</p>" +
            cell_bar(fraction(r.reboot_needed, r.finished), "#d39a2c") + "\n</body></html>\n";
    return page;
}

}  // namespace qzr::collect
