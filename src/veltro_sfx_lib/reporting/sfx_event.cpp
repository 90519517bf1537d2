#include "veltro_sfx_lib/reporting/sfx_event.hpp"

#include "framework/text_format.hpp"
#include "framework/utf.hpp"
#include "veltro_sfx_lib/ui/sfx_languages.hpp"

namespace qzr::sfx {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// "key":"escaped value"
void string_member(std::string& out, std::string_view key, std::string_view value) {
    out += '"';
    out += key;
    out += "\":\"";
    out += escape_event_text(value);
    out += '"';
}

void string_member(std::string& out, std::string_view key, const std::wstring& value) {
    string_member(out, key, std::string_view(utf::to_utf8(value)));
}

template <class Number>
void number_member(std::string& out, std::string_view key, Number value) {
    out += '"';
    out += key;
    out += "\":";
    out += std::to_string(value);
}

}  // namespace

std::string escape_event_text(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += '|'; break;
        case '\f': out += "\\f"; break;
        case '\r': break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += hex_digits[byte >> 4];
                out += hex_digits[byte & 0xF];
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string event_language_tag(std::int32_t language) {
    const std::wstring_view culture = culture_of(language).value_or(L"en-us");
    std::string tag = utf::to_utf8(culture);
    bool region = false;
    for (char& c : tag) {
        if (c == '-') region = true;
        else if (region && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return tag;
}

void sfx_event_state::add_main_product(const std::wstring& product, const std::wstring& channel, bool reset) {
    if (reset) main_products_.clear();
    if (!main_products_.empty()) main_products_ += ',';
    main_products_ += "{\"product\":\"" + escape_event_text(utf::to_utf8(product)) + "\",\"channel\":\"" +
                      escape_event_text(utf::to_utf8(channel)) + "\"}";
}

std::string sfx_event_state::document(std::string_view stage, const machine& m) const {
    std::string d;
    d.reserve(2048);
    d += "{\"record\":[{\"event\":{\"type\":25,\"subtype\":1,";
    string_member(d, "request_id", m.request_id);
    d += ',';
    number_member(d, "time", m.now_ms());
    d += "},\"setup\":{\"common\":{";
    string_member(d, "operation", operation_);
    d += ',';
    string_member(d, "session_id", session_id_);
    d += ',';
    string_member(d, "stage", stage);
    d += ',';
    string_member(d, "title", title_);
    d += '}';
    if (!ret_code_.empty()) {
        d += ",\"finish_state\":{";
        string_member(d, "reboot", reboot_);
        d += ',';
        string_member(d, "ret_code", ret_code_);
        d += '}';
    }
    d += ",\"config\":{\"main_products\":[" + main_products_ + "],";
    string_member(d, "sfx_ver", m.sfx_version);
    d += ',';
    string_member(d, "trigger", trigger_);
    d += ',';
    string_member(d, "cmdline", cmdline_);
    d += "},\"system\":{";
    number_member(d, "memory", m.memory_mib);
    d += ',';
    number_member(d, "processors", m.processors);
    d += ",\"workstation\":";
    d += m.workstation ? "true" : "false";
    if (!temp_path_.empty() && m.available_mib) {
        d += ",\"hdd\":{";
        number_member(d, "available", *m.available_mib);
        d += '}';
    }
    d += "}},\"identity\":{\"hwid\":\"" + m.hwid + "\"},\"installation\":{\"action\":\"INSTALL\",";
    string_member(d, "aiid", aiid_);
    d += ',';
    number_member(d, "time", m.now_ms());
    d += "},\"platform\":{";
    d += "\"architecture\":\"" + m.architecture + "\",\"os\":\"WINDOWS\",";
    d += text::format("\"version\":\"%d.%d\",\"build\":\"%d\",", m.major, m.minor, m.build);
    string_member(d, "lang", event_language_tag(m.ui_language));
    d += ',';
    number_member(d, "time_zone", m.time_zone_bias);
    d += "},\"product\":{";
    number_member(d, "edition", edition_ ? 2 : 1);
    d += ",\"id\":9999,";
    string_member(d, "version_app", m.product_version);
    d += "}}]}";
    return d;
}

}  // namespace qzr::sfx
