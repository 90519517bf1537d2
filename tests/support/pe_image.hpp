// Minimal PE images for tests: a DOS header, NT headers of the chosen format
// and a section table whose last raw data ends where the test wants.
#pragma once

#include <cstdint>
#include <vector>

namespace qzr::test {

struct pe_layout {
    bool pe32plus = false;
    std::uint32_t e_lfanew = 0x80;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sections{{0x200, 0x200}};  // raw pointer, raw size
    std::uint32_t checksum = 0;
    std::uint32_t cert_offset = 0, cert_size = 0;
};

inline void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// The image bytes up to the end of its last section (filled with a pattern).
inline std::vector<std::uint8_t> make_pe(const pe_layout& l) {
    std::uint32_t end = 0;
    for (auto [ptr, size] : l.sections) end = std::max(end, ptr + size);
    const std::uint32_t opt_size = l.pe32plus ? 240 : 224;
    const std::uint32_t headers = l.e_lfanew + 24 + opt_size + 40 * static_cast<std::uint32_t>(l.sections.size());
    std::vector<std::uint8_t> b(std::max(end, headers), 0);
    for (std::size_t i = headers; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
    b[0] = 'M';
    b[1] = 'Z';
    put32(b, 0x3C, l.e_lfanew);
    const std::size_t nt = l.e_lfanew;
    b[nt] = 'P';
    b[nt + 1] = 'E';
    put16(b, nt + 4, l.pe32plus ? 0x8664 : 0x014C);
    put16(b, nt + 6, static_cast<std::uint16_t>(l.sections.size()));
    put16(b, nt + 20, static_cast<std::uint16_t>(opt_size));
    put16(b, nt + 24, l.pe32plus ? 0x20B : 0x10B);
    put32(b, nt + 88, l.checksum);
    const std::size_t sec = nt + (l.pe32plus ? 168 : 152);
    put32(b, sec, l.cert_offset);
    put32(b, sec + 4, l.cert_size);
    std::size_t table = nt + 24 + opt_size;
    for (auto [ptr, size] : l.sections) {
        put32(b, table + 16, size);
        put32(b, table + 20, ptr);
        table += 40;
    }
    return b;
}

}  // namespace qzr::test
