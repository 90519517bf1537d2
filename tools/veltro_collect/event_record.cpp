#include "event_record.hpp"

#include <simdjson.h>

#include <limits>

namespace qzr::collect {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// Texts the stub writes from what a user or a vendor chose (titles, command
// lines) are bounded only by the body; a column of a shape the stub fixes is
// bounded much tighter.
constexpr std::size_t max_text = 16 * 1024;
constexpr std::size_t max_word = 128;

struct refused {
    std::string reason;
};

[[noreturn]] void refuse(std::string_view where, std::string_view what) {
    throw refused{std::string(where) + ": " + std::string(what)};
}

// A key named twice is refused: the parser would give the first value, and
// another reader of the same body (a proxy, a log) may well take the last.
element member(element object, const char* where, const char* key) {
    simdjson::dom::object fields;
    if (object.get_object().get(fields) != simdjson::SUCCESS) refuse(where, "not an object");
    const std::string_view wanted(key);
    element value;
    bool found = false;
    for (const simdjson::dom::key_value_pair field : fields) {
        if (field.key != wanted) continue;
        if (found) refuse(where, std::string("\"") + key + "\" is there twice");
        value = field.value;
        found = true;
    }
    if (!found) refuse(where, std::string("no \"") + key + "\"");
    return value;
}

bool has(element object, const char* key) {
    element value;
    return object[key].get(value) == simdjson::SUCCESS;
}

element object_at(element object, const char* where, const char* key) {
    const element value = member(object, where, key);
    if (value.type() != element_type::OBJECT) refuse(where, std::string("\"") + key + "\" is not an object");
    return value;
}

// PostgreSQL keeps no NUL in text, and no reader of a report wants one.
std::string text_at(element object, const char* where, const char* key, std::size_t limit = max_text) {
    std::string_view value;
    if (member(object, where, key).get_string().get(value) != simdjson::SUCCESS)
        refuse(where, std::string("\"") + key + "\" is not a string");
    if (value.size() > limit) refuse(where, std::string("\"") + key + "\" is too long");
    if (value.find('\0') != std::string_view::npos) refuse(where, std::string("\"") + key + "\" holds a NUL");
    return std::string(value);
}

std::int64_t integer_at(element object, const char* where, const char* key, std::int64_t low, std::int64_t high) {
    std::int64_t value = 0;
    if (member(object, where, key).get_int64().get(value) != simdjson::SUCCESS)
        refuse(where, std::string("\"") + key + "\" is not a whole number");
    if (value < low || value > high) refuse(where, std::string("\"") + key + "\" is out of range");
    return value;
}

bool all_of(std::string_view text, bool (*ok)(char)) {
    for (const char c : text)
        if (!ok(c)) return false;
    return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_upper_hex(char c) { return is_digit(c) || (c >= 'A' && c <= 'F'); }
bool is_lower_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f'); }
bool is_word(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_' || c == '.';
}

bool is_guid(std::string_view s) {
    if (s.size() != 36) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? s[i] != '-' : !is_lower_hex(s[i])) return false;
    }
    return true;
}

// "-2147483648" to "2147483647" with nothing around it: std::to_string of
// an int32, which is what the stub writes.
std::optional<std::int32_t> decimal_int32(std::string_view s) {
    const bool negative = !s.empty() && s[0] == '-';
    const std::string_view digits = negative ? s.substr(1) : s;
    if (digits.empty() || digits.size() > 10 || !all_of(digits, is_digit)) return std::nullopt;
    if (digits.size() > 1 && digits[0] == '0') return std::nullopt;
    std::int64_t value = 0;
    for (const char c : digits) value = value * 10 + (c - '0');
    if (negative) value = -value;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    if (negative && value == 0) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

// "major.minor" as the stub writes the system's version.
bool is_os_version(std::string_view s) {
    const auto dot = s.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == s.size() || s.size() > 21) return false;
    return all_of(s.substr(0, dot), is_digit) && all_of(s.substr(dot + 1), is_digit);
}

std::string word_at(element object, const char* where, const char* key, bool may_be_empty) {
    std::string value = text_at(object, where, key, max_word);
    if ((value.empty() && !may_be_empty) || !all_of(value, is_word))
        refuse(where, std::string("\"") + key + "\" is not a plain word");
    return value;
}

constexpr std::int64_t max_ms = std::int64_t{1} << 53;  // beyond year 285,000
constexpr std::int64_t max_i32 = std::numeric_limits<std::int32_t>::max();

void read_products(element config, event_record& r) {
    simdjson::dom::array products;
    if (member(config, "config", "main_products").get_array().get(products) != simdjson::SUCCESS)
        refuse("config", "\"main_products\" is not an array");
    for (const element product : products) {
        if (product.type() != element_type::OBJECT) refuse("main_products", "an entry is not an object");
        std::string id = text_at(product, "main_products", "product", max_word * 2);
        std::string channel = text_at(product, "main_products", "channel", max_word * 2);
        if (r.product_count++ == 0) {
            r.product = std::move(id);
            r.channel = std::move(channel);
        }
    }
}

void read_document(element doc, event_record& r) {
    if (doc.type() != element_type::OBJECT) refuse("document", "not an object");
    simdjson::dom::array records;
    if (member(doc, "document", "record").get_array().get(records) != simdjson::SUCCESS)
        refuse("document", "\"record\" is not an array");
    if (records.size() != 1) refuse("document", "\"record\" does not hold exactly one object");
    const element record = records.at(0);
    if (record.type() != element_type::OBJECT) refuse("record", "not an object");

    const element event = object_at(record, "record", "event");
    if (integer_at(event, "event", "type", 0, max_i32) != 25) refuse("event", "\"type\" is not 25");
    if (integer_at(event, "event", "subtype", 0, max_i32) != 1) refuse("event", "\"subtype\" is not 1");
    r.request_id = text_at(event, "event", "request_id", 36);
    if (!is_guid(r.request_id)) refuse("event", "\"request_id\" is not a GUID");
    r.event_ms = integer_at(event, "event", "time", 0, max_ms);

    const element setup = object_at(record, "record", "setup");
    const element common = object_at(setup, "setup", "common");
    r.operation = word_at(common, "common", "operation", true);
    r.session_id = text_at(common, "common", "session_id", max_word);
    r.stage = word_at(common, "common", "stage", false);
    r.title = text_at(common, "common", "title");
    if (has(setup, "finish_state")) {
        const element finish = object_at(setup, "setup", "finish_state");
        const std::string reboot = text_at(finish, "finish_state", "reboot", 1);
        if (reboot != "" && reboot != "1") refuse("finish_state", "\"reboot\" is neither \"1\" nor empty");
        r.reboot = reboot == "1";
        r.ret_code = decimal_int32(text_at(finish, "finish_state", "ret_code", 11));
        if (!r.ret_code) refuse("finish_state", "\"ret_code\" is not a 32-bit decimal number");
    }
    const element config = object_at(setup, "setup", "config");
    read_products(config, r);
    r.sfx_version = word_at(config, "config", "sfx_ver", true);
    r.trigger = text_at(config, "config", "trigger");
    r.cmdline = text_at(config, "config", "cmdline");
    const element system = object_at(setup, "setup", "system");
    r.memory_mib = integer_at(system, "system", "memory", 0, max_ms);
    r.processors = static_cast<std::int32_t>(integer_at(system, "system", "processors", 0, max_i32));
    if (member(system, "system", "workstation").get_bool().get(r.workstation) != simdjson::SUCCESS)
        refuse("system", "\"workstation\" is not true or false");
    if (has(system, "hdd"))
        r.disk_available_mib = integer_at(object_at(system, "system", "hdd"), "hdd", "available", 0, max_ms);

    r.hwid = text_at(object_at(record, "record", "identity"), "identity", "hwid", 64);
    if (r.hwid.size() != 64 || !all_of(r.hwid, is_upper_hex)) refuse("identity", "\"hwid\" is not 64 hex digits");

    const element installation = object_at(record, "record", "installation");
    if (text_at(installation, "installation", "action", max_word) != "INSTALL")
        refuse("installation", "\"action\" is not \"INSTALL\"");
    r.aiid = text_at(installation, "installation", "aiid", max_word * 2);
    integer_at(installation, "installation", "time", 0, max_ms);

    const element platform = object_at(record, "record", "platform");
    r.architecture = word_at(platform, "platform", "architecture", true);
    if (text_at(platform, "platform", "os", max_word) != "WINDOWS") refuse("platform", "\"os\" is not \"WINDOWS\"");
    r.os_version = text_at(platform, "platform", "version", max_word);
    if (!is_os_version(r.os_version)) refuse("platform", "\"version\" is not major.minor");
    const std::string build = text_at(platform, "platform", "build", 10);
    if (build.empty() || !all_of(build, is_digit)) refuse("platform", "\"build\" is not a number");
    r.os_build = std::stoll(build);
    r.language = word_at(platform, "platform", "lang", false);
    r.time_zone = static_cast<std::int32_t>(integer_at(platform, "platform", "time_zone", -24 * 60, 24 * 60));

    const element product = object_at(record, "record", "product");
    r.edition = static_cast<std::int32_t>(integer_at(product, "product", "edition", 1, 2));
    if (integer_at(product, "product", "id", 0, max_i32) != 9999) refuse("product", "\"id\" is not 9999");
    r.app_version = text_at(product, "product", "version_app", max_word);
}

}  // namespace

parse_result parse_event(std::string_view body) {
    parse_result result;
    if (body.size() > max_event_body) {
        result.refused = refusal::wrong_shape;
        result.reason = "document: too long";
        return result;
    }
    // One parser per thread, reused: it keeps its buffers between calls.
    thread_local simdjson::dom::parser parser(max_event_body);
    element doc;
    if (const auto error = parser.parse(body.data(), body.size()).get(doc); error != simdjson::SUCCESS) {
        result.refused = refusal::not_json;
        result.reason = std::string("not JSON: ") + simdjson::error_message(error);
        return result;
    }
    try {
        read_document(doc, result.record);
    } catch (const refused& r) {
        result.refused = refusal::wrong_shape;
        result.reason = r.reason;
        result.record = {};
    }
    return result;
}

}  // namespace qzr::collect
