// Where a streamed response body goes: told the status first, then handed
// the body chunk by chunk. Returning false from either cancels the transfer.
#pragma once

#include <cstdint>

namespace qzr::types {

class stream_writter_intf {
public:
    virtual ~stream_writter_intf() = default;
    virtual bool begin(std::uint32_t http_status) = 0;
    virtual bool write(const std::uint8_t* data, std::uint64_t size) = 0;
};

}  // namespace qzr::types
