// Where decoded bytes go: a file (Win32) or memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qzr::packers {

class stream_writter_intf {
public:
    virtual ~stream_writter_intf() = default;
    virtual void write(const std::uint8_t* data, std::size_t size) = 0;
    // Sets the length of the output (extending or truncating) without moving
    // the write position.
    virtual void set_size(std::uint64_t size) = 0;
};

class memory_stream_writter final : public stream_writter_intf {
public:
    void write(const std::uint8_t* data, std::size_t size) override { bytes.insert(bytes.end(), data, data + size); }
    void set_size(std::uint64_t size) override { bytes.resize(static_cast<std::size_t>(size)); }
    std::vector<std::uint8_t> bytes;
};

}  // namespace qzr::packers
