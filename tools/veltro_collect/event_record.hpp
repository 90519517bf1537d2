// One analytics event as the receiver keeps it: the stub's JSON document
// checked against the shape the stub writes and reduced to the fields a
// report needs. Checking never trusts the sender: every string is bounded,
// every number must fit its column, and a document that fails any check is
// refused whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qzr::collect {

inline constexpr std::size_t max_event_body = 64 * 1024;

struct event_record {
    std::int64_t received_ms = 0;  // the receiver's clock
    std::int64_t event_ms = 0;     // event.time, the sender's clock
    std::string request_id;
    std::string session_id;
    std::string stage;
    std::string operation;
    std::string title;
    std::optional<std::int32_t> ret_code;  // only with finish_state
    std::optional<bool> reboot;            // only with finish_state
    std::string product;                   // the first main product, or ""
    std::string channel;
    std::int32_t product_count = 0;
    std::string sfx_version;
    std::string app_version;
    std::int32_t edition = 1;
    std::string os_version;  // "major.minor"
    std::int64_t os_build = 0;
    std::string architecture;
    std::string language;
    std::int32_t time_zone = 0;
    std::int64_t memory_mib = 0;
    std::int32_t processors = 0;
    bool workstation = false;
    std::optional<std::int64_t> disk_available_mib;
    std::string hwid;
    std::string aiid;
    std::string trigger;
    std::optional<std::string> cmdline;  // dropped by the privacy option
};

// Why a body was refused; the receiver counts each kind.
enum class refusal { none, not_json, wrong_shape };

struct parse_result {
    refusal refused = refusal::none;
    std::string reason;  // for the log: the first check that failed
    event_record record;
};

// Reads one request body. Keys may come in any order; keys the stub does not
// write are ignored; a key it always writes must be there with its type.
parse_result parse_event(std::string_view body);

}  // namespace qzr::collect
