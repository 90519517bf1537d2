// MD5 (RFC 1321). Used for the log's source-file identifiers and the
// hardware identifier, never for anything that must resist an attacker.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "framework/block_buffer.hpp"

namespace qzr::root {

class md5 {
public:
    using digest_type = std::array<std::uint8_t, 16>;

    md5() noexcept;
    void update(std::span<const std::uint8_t> data) noexcept;
    void update(const void* data, std::size_t size) noexcept;
    digest_type finish() noexcept;

    static digest_type of(std::span<const std::uint8_t> data) noexcept;

private:
    void block(const std::uint8_t* p) noexcept;
    void blocks(const std::uint8_t* p, std::size_t count) noexcept;

    std::uint32_t state_[4];
    block_buffer<64> buffer_;
};

}  // namespace qzr::root
