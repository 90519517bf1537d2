// SHA-256 (FIPS 180-4).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "framework/block_buffer.hpp"

namespace qzr::root {

class sha256 {
public:
    using digest_type = std::array<std::uint8_t, 32>;

    sha256() noexcept;
    void update(std::span<const std::uint8_t> data) noexcept;
    void update(const void* data, std::size_t size) noexcept;
    digest_type finish() noexcept;

    static digest_type of(std::span<const std::uint8_t> data) noexcept;

private:
    void blocks(const std::uint8_t* p, std::size_t count) noexcept;

    std::uint32_t state_[8];
    block_buffer<64> buffer_;
};

}  // namespace qzr::root
