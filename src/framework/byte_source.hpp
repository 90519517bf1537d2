// Bytes read a window at a time: the signature check and the LZMA decoder
// walk files of any size through a bounded buffer instead of mapping them
// whole, so their memory does not grow with the file (and a 32-bit process
// does not run out of address space). A view serves its bytes in place.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "framework/byte_view.hpp"

namespace qzr {

class byte_source {
public:
    // Every source serves windows of at least this many bytes.
    static constexpr std::size_t min_window = 64 * 1024;

    virtual ~byte_source() = default;
    virtual std::uint64_t size() const = 0;

    // The bytes from offset on: at most `want`, and fewer than
    // min(want, min_window) only where the data ends. Valid until the next
    // call. Raises error 5 for an offset past the end.
    virtual byte_view window(std::uint64_t offset, std::size_t want) = 0;

    // Exactly length bytes (length <= min_window) or error 5.
    byte_view bytes(std::uint64_t offset, std::size_t length) {
        if (offset > size() || length > size() - offset || length > min_window)
            throw exceptions::error(exceptions::access_denied_code, "Unable to read outside of the mapped view!");
        const byte_view w = window(offset, length);
        if (w.size() < length)
            throw exceptions::error(exceptions::access_denied_code, "Unable to read outside of the mapped view!");
        return w.sub(0, length);
    }
    std::uint8_t u8(std::uint64_t offset) { return bytes(offset, 1).u8(0); }
    std::uint16_t u16(std::uint64_t offset) { return bytes(offset, 2).u16(0); }
    std::uint32_t u32(std::uint64_t offset) { return bytes(offset, 4).u32(0); }
    std::uint64_t u64(std::uint64_t offset) { return bytes(offset, 8).u64(0); }
    bool contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size() && length <= size() - offset;
    }

    // The most a walk over a source asks of one window. Distances are 64-bit
    // and a size_t may be 32: a distance cast down unchecked (4 GiB becomes
    // 0) would ask for nothing, and the walk would never end.
    static constexpr std::size_t largest_request = std::size_t{1} << 30;
    static std::size_t request_for(std::uint64_t left) noexcept {
        return static_cast<std::size_t>(std::min<std::uint64_t>(left, largest_request));
    }
    // The window a walk from offset to the end reads next: never empty
    // before the end (error 5 instead).
    byte_view next_window(std::uint64_t offset) {
        if (offset > size())
            throw exceptions::error(exceptions::access_denied_code, "Unable to read outside of the mapped view!");
        const byte_view w = window(offset, request_for(size() - offset));
        if (w.empty() && offset < size())
            throw exceptions::error(exceptions::access_denied_code, "Unable to read outside of the mapped view!");
        return w;
    }
    bool equals(std::uint64_t offset, std::string_view text) {
        return contains(offset, text.size()) && bytes(offset, text.size()).equals(0, text);
    }
};

class view_source final : public byte_source {
public:
    explicit view_source(byte_view view) noexcept : view_(view) {}
    std::uint64_t size() const override { return view_.size(); }
    byte_view window(std::uint64_t offset, std::size_t want) override {
        if (offset > view_.size())
            throw exceptions::error(exceptions::access_denied_code, "Unable to read outside of the mapped view!");
        return view_.sub(offset, std::min<std::uint64_t>(want, view_.size() - offset));
    }

private:
    byte_view view_;
};

// A stretch of another source, seen from its own offset 0: one entry of a
// payload, say. Raises error 5 when the stretch does not lie inside.
class range_source final : public byte_source {
public:
    range_source(byte_source& whole, std::uint64_t offset, std::uint64_t length)
        : whole_(whole), offset_(offset), length_(length) {
        if (!whole.contains(offset, length))
            throw exceptions::error(exceptions::access_denied_code, "Unable to read outside of the mapped view!");
    }
    std::uint64_t size() const override { return length_; }
    byte_view window(std::uint64_t offset, std::size_t want) override {
        if (offset > length_)
            throw exceptions::error(exceptions::access_denied_code, "Unable to read outside of the mapped view!");
        const std::uint64_t left = length_ - offset;
        const byte_view w = whole_.window(offset_ + offset, static_cast<std::size_t>(std::min<std::uint64_t>(want, left)));
        return w.size() > left ? w.sub(0, left) : w;
    }

private:
    byte_source& whole_;
    std::uint64_t offset_;
    std::uint64_t length_;
};

}  // namespace qzr
