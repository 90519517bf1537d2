#include "log/log_line.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "framework/hex.hpp"
#include "framework/md5.hpp"

namespace qzr::log {

namespace {

constexpr std::string_view level_names[] = {"debug", "block", "info", "fnction", "notice",
                                            "warning", "thread", "error", "fatal"};

// Salt that keeps source paths out of the log.
constexpr std::string_view file_name_salt = "5B1E0A47C93D26F8A0E4B7319DC2F65A";

constexpr std::string_view project_folder = "projects\\veltro\\";

// Text left-aligned in a column at least width characters wide; a character
// is a UTF-8 code point, and longer text is never cut.
void append_column(std::string& out, std::string_view text, std::size_t width) {
    out += text;
    std::size_t chars = 0;
    for (const char c : text) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (chars < width) out.append(width - chars, ' ');
}

// A number right-aligned in a column at least width wide: padded with spaces
// in front, or with zeros between the sign and the digits.
void append_number(std::string& out, std::int64_t value, std::size_t width, char fill) {
    char buffer[24];
    const char* end = std::to_chars(std::begin(buffer), std::end(buffer), value).ptr;
    std::string_view digits(buffer, static_cast<std::size_t>(end - buffer));
    const std::size_t pad = digits.size() < width ? width - digits.size() : 0;
    if (fill == '0' && value < 0) {
        out += '-';
        digits.remove_prefix(1);
    }
    out.append(pad, fill);
    out += digits;
}

}  // namespace

std::string_view level_name(unsigned level) noexcept {
    return level < std::size(level_names) ? level_names[level] : std::string_view();
}

log_source make_source(std::string_view tag, const file_id& file, std::int32_t line) noexcept {
    log_source s{};
    std::memcpy(s.tag, tag.data(), std::min<std::size_t>(tag.size(), sizeof s.tag - 1));
    s.file = file;
    s.line = line;
    return s;
}

file_id file_id_from_build_path(std::string_view build_path) {
    if (!build_path.starts_with(build_prefix)) throw std::logic_error("The prefixes do not match");
    std::string rest(build_path.substr(build_prefix.size()));
    for (auto& c : rest)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    root::md5 h;
    h.update(file_name_salt.data(), file_name_salt.size());
    h.update(rest.data(), rest.size());
    const auto digest = h.finish();
    const std::string text = hex::encode(digest, true);
    file_id id;
    std::memcpy(id.data(), text.data(), id.size());
    return id;
}

file_id file_id_of_source(const char* relative_path) {
    std::string path(build_prefix);
    path += project_folder;
    for (const char* p = relative_path; p && *p; ++p) path.push_back(*p == '/' ? '\\' : *p);
    return file_id_from_build_path(path);
}

std::optional<civil_time> to_civil(filetime t) noexcept {
    if (t >> 63) return std::nullopt;
    const std::uint64_t ms_total = t / 10000;
    civil_time c{};
    c.millisecond = static_cast<int>(ms_total % 1000);
    const std::uint64_t s_total = ms_total / 1000;
    c.second = static_cast<int>(s_total % 60);
    c.minute = static_cast<int>(s_total / 60 % 60);
    c.hour = static_cast<int>(s_total / 3600 % 24);
    // Days since 1601-01-01 shifted to days since 1970-01-01, then the civil
    // calendar algorithm on a March-based year.
    std::int64_t z = static_cast<std::int64_t>(s_total / 86400) - 134774 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    c.year = static_cast<int>(yoe + era * 400 + (c.month <= 2 ? 1 : 0));
    return c;
}

std::string compose_message(std::string_view message, std::string_view context, std::string_view tag) {
    while (message.starts_with("\r\n")) message.remove_prefix(2);
    std::string text;
    text.reserve(message.size() + context.size() + 3);
    if (!context.empty()) {
        std::string_view ctx = context;
        const auto colon = ctx.rfind(':');
        const std::string_view last = colon == std::string_view::npos ? ctx : ctx.substr(colon + 1);
        if (!tag.empty() && last == tag) ctx = colon == std::string_view::npos ? std::string_view() : ctx.substr(0, colon);
        text += '{';
        text += ctx;
        text += "} ";
    }
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') continue;
        text.push_back(message[i]);
    }
    return text;
}

std::string format_line(const event& ev) {
    try {
        const auto t = to_civil(ev.time);
        if (!t) return std::string();
        const std::string_view tag(ev.source.tag, strnlen(ev.source.tag, sizeof ev.source.tag));
        const std::string_view fid(ev.source.file.data(), 6);
        std::string_view msg = ev.message;
        while (msg.starts_with('\n')) msg.remove_prefix(1);
        const auto first_end = msg.find('\n');
        // [time] [level  ] [tag        ] [pid  :tid  ] [fileid:line] message
        std::string line;
        line.reserve(header_width + msg.size() + 2);
        line += '[';
        append_number(line, t->year, 4, '0');
        line += '-';
        append_number(line, t->month, 2, '0');
        line += '-';
        append_number(line, t->day, 2, '0');
        line += ' ';
        append_number(line, t->hour, 2, '0');
        line += ':';
        append_number(line, t->minute, 2, '0');
        line += ':';
        append_number(line, t->second, 2, '0');
        line += '.';
        append_number(line, t->millisecond, 3, '0');
        line += "] [";
        append_column(line, level_name(ev.level), 7);
        line += "] [";
        append_column(line, tag, 11);
        line += "] [";
        append_number(line, ev.process_id, 5, ' ');
        line += ':';
        append_number(line, ev.thread_id, 5, ' ');
        line += "] [";
        append_column(line, fid, 6);
        line += ':';
        append_number(line, ev.source.line, 4, ' ');
        line += "] ";
        line += msg.substr(0, first_end);
        if (first_end != std::string_view::npos) {
            std::string_view rest = msg.substr(first_end + 1);
            while (!rest.empty()) {
                const auto end = rest.find('\n');
                const std::string_view part = rest.substr(0, end);
                // A trailing line feed does not open an empty indented line.
                if (end == std::string_view::npos || !part.empty() || end + 1 < rest.size()) {
                    line += "\r\n";
                    line.append(header_width, ' ');
                    line += part;
                }
                if (end == std::string_view::npos) break;
                rest.remove_prefix(end + 1);
            }
        }
        line += "\r\n";
        return line;
    } catch (...) {
        return "event formatting failed\r\n";
    }
}

}  // namespace qzr::log
