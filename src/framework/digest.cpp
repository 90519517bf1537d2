#include "framework/digest.hpp"

#include <stdexcept>

#include "framework/hex.hpp"
#include "framework/sha256.hpp"

namespace qzr::root {

digest digest::from_hex(std::wstring_view text) {
    if (text.empty() || text.size() % 2) return digest();
    std::vector<std::uint8_t> out(text.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int hi = hex::digit_value(static_cast<char32_t>(text[2 * i]));
        const int lo = hex::digit_value(static_cast<char32_t>(text[2 * i + 1]));
        if (hi < 0 || lo < 0) throw std::invalid_argument("invalid hex_char_value<wchar_t>");
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return digest(std::move(out));
}

digest hash_buffer(std::span<const std::uint8_t> data) {
    const auto d = sha256::of(data);
    return digest(std::vector<std::uint8_t>(d.begin(), d.end()));
}

}  // namespace qzr::root
