// Buffering of a byte stream into the fixed-size blocks a digest consumes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qzr::root {

template <std::size_t BlockSize>
class block_buffer {
public:
    static constexpr std::size_t block_size = BlockSize;

    // Hands whole blocks to compress(pointer, block count); keeps the rest.
    template <class Compress>
    void feed(const std::uint8_t* p, std::size_t size, Compress&& compress) {
        total_ += size;
        if (used_) {
            const std::size_t take = std::min(size, BlockSize - used_);
            std::memcpy(pending_ + used_, p, take);
            used_ += take;
            p += take;
            size -= take;
            if (used_ < BlockSize) return;
            compress(pending_, std::size_t{1});
            used_ = 0;
        }
        if (size >= BlockSize) compress(p, size / BlockSize);
        p += size / BlockSize * BlockSize;
        size %= BlockSize;
        if (size) {
            std::memcpy(pending_, p, size);
            used_ = size;
        }
    }

    // Bytes fed so far, and how many wait for a full block.
    std::uint64_t total() const noexcept { return total_; }
    std::size_t pending() const noexcept { return used_; }

private:
    std::uint8_t pending_[BlockSize] = {};
    std::size_t used_ = 0;
    std::uint64_t total_ = 0;
};

}  // namespace qzr::root
