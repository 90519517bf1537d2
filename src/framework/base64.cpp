#include "framework/base64.hpp"

namespace qzr::base64 {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int value_of(char c) noexcept {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = std::uint32_t{bytes[i]} << 16 | std::uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
        out.push_back(alphabet[v >> 18]);
        out.push_back(alphabet[(v >> 12) & 0x3F]);
        out.push_back(alphabet[(v >> 6) & 0x3F]);
        out.push_back(alphabet[v & 0x3F]);
    }
    const std::size_t left = bytes.size() - i;
    if (left) {
        const std::uint32_t v = std::uint32_t{bytes[i]} << 16 | (left == 2 ? std::uint32_t{bytes[i + 1]} << 8 : 0);
        out.push_back(alphabet[v >> 18]);
        out.push_back(alphabet[(v >> 12) & 0x3F]);
        out.push_back(left == 2 ? alphabet[(v >> 6) & 0x3F] : '=');
        out.push_back('=');
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> decode(std::string_view text) {
    if (text.size() % 4) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;

    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const std::size_t pad = last ? padding : 0;
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            int d = 0;
            if (k < 4 - pad) {
                d = value_of(text[i + k]);
                if (d < 0) return std::nullopt;
            }
            v = v << 6 | static_cast<std::uint32_t>(d);
        }
        // Bits below the last whole byte must be zero in the canonical form.
        if ((pad == 1 && (v & 0xFF)) || (pad == 2 && (v & 0xFFFF))) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(v >> 16));
        if (pad < 2) out.push_back(static_cast<std::uint8_t>(v >> 8));
        if (pad < 1) out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

}  // namespace qzr::base64
