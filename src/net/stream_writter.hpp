// Where a streamed response body goes: told the status first, then handed
// the body chunk by chunk. Returning false from either cancels the transfer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qzr::types {

// The headers of the response whose body follows.
class response_headers_intf {
public:
    virtual ~response_headers_intf() = default;
    // The header's value; nullopt when the response has none.
    virtual std::optional<std::wstring> find(const std::wstring& name) const = 0;
};

class stream_writter_intf {
public:
    virtual ~stream_writter_intf() = default;
    virtual bool begin(std::uint32_t http_status) = 0;
    virtual bool write(const std::uint8_t* data, std::uint64_t size) = 0;
    // What the client calls: a sink that must see the headers (to continue
    // a partial body, say) decides here; others by the status alone.
    virtual bool begin_with(std::uint32_t http_status, const response_headers_intf&) { return begin(http_status); }
};

}  // namespace qzr::types
