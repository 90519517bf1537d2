// Digest values and the hex text they travel as.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace qzr::root {

class digest {
public:
    digest() = default;
    explicit digest(std::size_t zeros) : bytes_(zeros, 0) {}
    explicit digest(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    // Pairs of hex digits, high nibble first, either case. Empty or odd-length
    // text gives an empty digest (which matches no real one); any other
    // character raises std::invalid_argument("invalid hex_char_value<wchar_t>").
    static digest from_hex(std::wstring_view text);

    const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_; }
    bool empty() const noexcept { return bytes_.empty(); }
    friend bool operator==(const digest& a, const digest& b) noexcept { return a.bytes_ == b.bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// SHA-256 of a memory block.
digest hash_buffer(std::span<const std::uint8_t> data);

}  // namespace qzr::root
