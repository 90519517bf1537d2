// A read-only window on bytes (a mapped file, a buffer) whose every access is
// checked: a read outside the window is the general error 5, never a read of
// foreign memory. Offsets are 64-bit so that no sum of header fields can wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "framework/errors.hpp"

namespace qzr {

class byte_view {
public:
    byte_view() noexcept = default;
    byte_view(const void* data, std::size_t size) noexcept
        : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
    explicit byte_view(std::span<const std::uint8_t> bytes) noexcept : data_(bytes.data()), size_(bytes.size()) {}

    const std::uint8_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    // Whether [offset, offset + length) lies inside the window.
    bool contains(std::uint64_t offset, std::uint64_t length) const noexcept {
        return offset <= size_ && length <= size_ - offset;
    }

    // Pointer to length bytes at offset; raises error 5 outside the window.
    const std::uint8_t* at(std::uint64_t offset, std::uint64_t length) const {
        if (!data_ && size_ == 0 && length == 0 && offset == 0) return data_;
        if (!contains(offset, length))
            throw exceptions::error(exceptions::access_denied_code, "Unable to read outside of the mapped view!");
        return data_ + offset;
    }

    std::span<const std::uint8_t> span(std::uint64_t offset, std::uint64_t length) const {
        return {at(offset, length), static_cast<std::size_t>(length)};
    }
    byte_view sub(std::uint64_t offset, std::uint64_t length) const { return byte_view(at(offset, length), length); }

    std::uint8_t u8(std::uint64_t offset) const { return *at(offset, 1); }
    std::uint16_t u16(std::uint64_t offset) const { return static_cast<std::uint16_t>(le(offset, 2)); }
    std::uint32_t u32(std::uint64_t offset) const { return static_cast<std::uint32_t>(le(offset, 4)); }
    std::uint64_t u64(std::uint64_t offset) const { return le(offset, 8); }

    bool equals(std::uint64_t offset, std::string_view text) const noexcept {
        return contains(offset, text.size()) && std::memcmp(data_ + offset, text.data(), text.size()) == 0;
    }

private:
    std::uint64_t le(std::uint64_t offset, unsigned n) const {
        const std::uint8_t* p = at(offset, n);
        std::uint64_t v = 0;
        for (unsigned i = n; i-- > 0;) v = v << 8 | p[i];
        return v;
    }

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace qzr
