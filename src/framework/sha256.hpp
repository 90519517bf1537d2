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

// The compression function over whole 64-byte blocks, two ways: portable C++
// and the x86 SHA extensions. sha256 picks the second at run time where the
// processor has it; both give identical results.
namespace sha256_impl {
void blocks_portable(std::uint32_t state[8], const std::uint8_t* p, std::size_t count) noexcept;
void blocks_sha_extensions(std::uint32_t state[8], const std::uint8_t* p, std::size_t count) noexcept;
bool cpu_has_sha_extensions() noexcept;
}  // namespace sha256_impl

}  // namespace qzr::root
