#include "net/proxy_settings.hpp"

#include <map>
#include <optional>

#include "framework/base64.hpp"
#include "framework/utf.hpp"

namespace qzr::http {

namespace {

constexpr const char* section_name = "ProxySettings";

bool is_high_surrogate(char32_t u) noexcept { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char32_t u) noexcept { return u >= 0xDC00 && u <= 0xDFFF; }

// UTF-16 code units to UTF-8; a lone surrogate becomes U+FFFD and an odd
// last byte is dropped.
std::string utf16_to_utf8(std::span<const std::uint8_t> bytes, bool big_endian) {
    std::wstring wide;
    wide.reserve(bytes.size() / 2);
    const std::size_t units = bytes.size() / 2;
    auto unit = [&](std::size_t i) -> char32_t {
        const std::uint8_t a = bytes[2 * i], b = bytes[2 * i + 1];
        return big_endian ? char32_t(a) << 8 | b : char32_t(b) << 8 | a;
    };
    for (std::size_t i = 0; i < units; ++i) {
        char32_t u = unit(i);
        if constexpr (sizeof(wchar_t) == 4) {
            // Wide text is UTF-32 here: pairs are joined before they are kept.
            if (is_high_surrogate(u) && i + 1 < units && is_low_surrogate(unit(i + 1))) {
                u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
                ++i;
            }
        }
        wide.push_back(static_cast<wchar_t>(u));
    }
    return utf::to_utf8(wide);
}

std::string decode_text(std::span<const std::uint8_t> bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return utf16_to_utf8(bytes.subspan(2), false);
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return utf16_to_utf8(bytes.subspan(2), true);
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) bytes = bytes.subspan(3);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The key lines of the ProxySettings section; a key given twice keeps its
// later value.
std::map<std::string, std::string> section_values(const std::string& text) {
    std::map<std::string, std::string> values;
    std::optional<std::string> section;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = std::string(line.substr(1, line.size() - 2));
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || !section || *section != section_name) continue;
        values[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
    }
    return values;
}

void append_utf16le(std::vector<std::uint8_t>& out, std::string_view utf8) {
    for (const wchar_t c : utf::from_utf8(utf8)) {
        char32_t cp = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c));
        auto put = [&](char32_t u) {
            out.push_back(static_cast<std::uint8_t>(u & 0xFF));
            out.push_back(static_cast<std::uint8_t>(u >> 8));
        };
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
}

}  // namespace

std::optional<std::int32_t> read_decimal(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{INT32_MAX} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

ProxySettings parse_proxy_ini(std::span<const std::uint8_t> bytes) {
    const auto values = section_values(decode_text(bytes));
    auto text = [&](const char* key) -> std::optional<std::string> {
        const auto it = values.find(key);
        return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    auto number = [&](const char* key, std::int32_t def) {
        const auto value = text(key);
        const auto n = value ? read_decimal(*value) : std::nullopt;
        return n ? *n : def;
    };

    ProxySettings s;
    s.proxy_type = number("ProxyType", s.proxy_type);
    s.authorization = number("Authorization", s.authorization);
    s.port = number("Port", s.port);
    s.proxy_name = text("ProxyName").value_or(s.proxy_name);
    s.user_name = text("UserName").value_or(s.user_name);
    if (const auto pass = text("UserPass")) {
        if (const auto bytes = base64::decode(*pass)) s.user_password.assign(bytes->begin(), bytes->end());
    }
    s.fallback = number("Fallback", s.fallback ? 1 : 0) != 0;
    return s;
}

std::vector<std::uint8_t> serialize_proxy_ini(const ProxySettings& s) {
    const auto& pass = s.user_password;
    const std::string text = std::string("\r\n[") + section_name + "]\r\n" +
                             "ProxyType=" + std::to_string(s.proxy_type) + "\r\n" +
                             "Authorization=" + std::to_string(s.authorization) + "\r\n" +
                             "Port=" + std::to_string(s.port) + "\r\n" +
                             "ProxyName=" + s.proxy_name + "\r\n" +
                             "UserName=" + s.user_name + "\r\n" +
                             "UserPass=" +
                             base64::encode({reinterpret_cast<const std::uint8_t*>(pass.data()), pass.size()}) +
                             "\r\n" + "Fallback=" + (s.fallback ? "1" : "0") + "\r\n";
    std::vector<std::uint8_t> out{0xFF, 0xFE};
    append_utf16le(out, text);
    return out;
}

std::int32_t proxy_type_of_scheme(std::wstring_view scheme) noexcept {
    if (utf::iequals(scheme, L"http")) return proxy_type::http;
    if (utf::iequals(scheme, L"https")) return proxy_type::https;
    if (utf::iequals(scheme, L"socks") || utf::iequals(scheme, L"socks4")) return proxy_type::socks;
    if (utf::iequals(scheme, L"socks5")) return proxy_type::socks5;
    return proxy_type::none;
}

const wchar_t* proxy_type_log_text(std::int32_t type) noexcept {
    switch (type) {
        case proxy_type::preconfig: return L"Preconfig (use IE settings)";
        case proxy_type::http: return L"HTTP proxy (rfc2616,2617)";
        case proxy_type::socks: return L"SOCKS proxy (rfc1928,1929)";
        default: return L"no proxy";  // SOCKS 5 and HTTPS too: the log names types 1 to 3 only
    }
}

const wchar_t* authorization_log_text(std::int32_t authorization) noexcept {
    switch (authorization) {
        case proxy_authorization::basic: return L"basic";
        case proxy_authorization::ntlm: return L"NTLM";
        default: return L"no authentication";
    }
}

}  // namespace qzr::http
