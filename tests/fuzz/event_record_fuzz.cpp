// Fuzz driver for the analytics receiver's check of a posted body. Whatever
// the bytes, the check ends with a verdict; what it accepts has the bounds
// the stores rely on, and the same bytes always get the same verdict.
// Seeds: documents as the stub writes them (stub-events).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "event_record.hpp"

using namespace qzr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const collect::parse_result first = collect::parse_event(body);
    const collect::parse_result again = collect::parse_event(body);
    if (first.refused != again.refused || first.record.request_id != again.record.request_id) std::abort();
    if (first.refused != collect::refusal::none) {
        if (first.reason.empty()) std::abort();
        return 0;
    }
    const collect::event_record& r = first.record;
    if (r.request_id.size() != 36 || r.hwid.size() != 64 || r.stage.empty() || r.stage.size() > 128) std::abort();
    if (r.ret_code.has_value() != r.reboot.has_value()) std::abort();
    if (r.edition < 1 || r.edition > 2 || r.event_ms < 0 || r.memory_mib < 0) std::abort();
    for (const std::string* text : {&r.title, &r.session_id, &r.product, &r.channel, &r.trigger, &r.aiid})
        if (text->find('\0') != std::string::npos || text->size() > 16 * 1024) std::abort();
    return 0;
}
