#include "framework/hex.hpp"

namespace qzr::hex {

namespace {
template <class S>
S encode_as(std::span<const std::uint8_t> bytes, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    S out;
    out.reserve(bytes.size() * 2);
    for (auto b : bytes) {
        out.push_back(static_cast<typename S::value_type>(set[b >> 4]));
        out.push_back(static_cast<typename S::value_type>(set[b & 0x0F]));
    }
    return out;
}
}  // namespace

std::string encode(std::span<const std::uint8_t> bytes, bool upper) { return encode_as<std::string>(bytes, upper); }
std::wstring wencode(std::span<const std::uint8_t> bytes, bool upper) { return encode_as<std::wstring>(bytes, upper); }

int digit_value(char32_t c) noexcept {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
    return -1;
}

std::optional<std::vector<std::uint8_t>> decode(std::string_view text) {
    if (text.size() % 2) return std::nullopt;
    std::vector<std::uint8_t> out(text.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int hi = digit_value(static_cast<unsigned char>(text[2 * i]));
        const int lo = digit_value(static_cast<unsigned char>(text[2 * i + 1]));
        if (hi < 0 || lo < 0) return std::nullopt;
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return out;
}

}  // namespace qzr::hex
