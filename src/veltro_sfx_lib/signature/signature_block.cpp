#include "veltro_sfx_lib/signature/signature_block.hpp"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "framework/dsa.hpp"
#include "framework/hex.hpp"
#include "veltro_sfx_lib/signature/dsa_keys.hpp"

namespace qzr::sfx {

namespace {

using namespace signature_format;

constexpr std::size_t max_zero_padding = 8;

std::uint8_t hex_pair(const std::uint8_t* p) {
    const int hi = hex::digit_value(p[0]);
    const int lo = hex::digit_value(p[1]);
    if (hi < 0 || lo < 0) throw std::invalid_argument("invalid hex_char_value<char>");
    return static_cast<std::uint8_t>(hi << 4 | lo);
}

}  // namespace

pe_facts detect_pe(byte_source& b) noexcept try {
    pe_facts f;
    const std::uint64_t n = b.size();
    if (n <= 63 || !b.equals(0, "MZ")) return f;
    const std::int32_t lfanew = static_cast<std::int32_t>(b.u32(0x3C));
    if (lfanew < 0 || static_cast<std::uint64_t>(lfanew) > n) return f;
    const std::uint64_t nt = static_cast<std::uint64_t>(lfanew);
    if (!b.equals(nt, std::string_view("PE\0\0", 4)) || !b.contains(nt, 24)) return f;
    const std::uint16_t machine = b.u16(nt + 4);
    if (machine == 0x014C) {
        if (!b.contains(nt + 24, 224) || b.u16(nt + 24) != 0x10B) return f;
        f.security_entry = nt + 152;
    } else if (machine == 0x8664 || machine == 0xAA64) {
        if (!b.contains(nt + 24, 240) || b.u16(nt + 24) != 0x20B) return f;
        f.security_entry = nt + 168;
    } else {
        return f;
    }
    f.is_pe = true;
    f.checksum_offset = nt + 88;
    return f;
} catch (...) {
    return {};  // unreadable headers are no PE headers
}

pe_facts detect_pe(byte_view data) noexcept {
    view_source source(data);
    return detect_pe(source);
}

std::optional<signature_location> locate_signature(byte_source& b) {
    signature_location loc;
    loc.pe = detect_pe(b);
    std::uint64_t end = b.size();
    if (loc.pe.is_pe) {
        const std::uint64_t v = b.u32(loc.pe.security_entry);
        const std::uint64_t s = b.u32(loc.pe.security_entry + 4);
        if (v + s <= b.size() && v + s <= 0xFFFFFFFFull) {
            end = (v || s) ? v : b.size();
            for (std::size_t i = 0; i < max_zero_padding && end > 0 && b.u8(end - 1) == 0; ++i) --end;
        }
    }
    for (std::string_view closer : {" -->\r\n", " -->\n", " -->"}) {
        if (end >= closer.size() && b.equals(end - closer.size(), closer)) {
            end -= closer.size();
            break;
        }
    }
    if (end < marker_size) return std::nullopt;
    const std::uint64_t marker_at = end - marker_size;
    // A copy: the next read may reuse the window the marker came from.
    const byte_view marker_bytes = b.bytes(marker_at, marker_size);
    const std::string marker(reinterpret_cast<const char*>(marker_bytes.data()), marker_size);
    if (marker == "QZRSig2B" || marker == "QZRSig3B") {
        if (end < binary_block_size) return std::nullopt;
        loc.version = marker[6] - '0';
        loc.signed_length = end - binary_block_size;
        const std::uint8_t* p = b.bytes(loc.signed_length, 64).data();
        std::copy_n(p, 32, loc.r.begin());
        std::copy_n(p + 32, 32, loc.s.begin());
        return loc;
    }
    if (marker == "QZRSig2A" || marker == "QZRSig3A") {
        if (end < text_block_size || !b.equals(end - text_block_size, marker)) return std::nullopt;
        loc.version = marker[6] - '0';
        loc.text = true;
        loc.signed_length = end - text_block_size;
        const std::uint8_t* p = b.bytes(loc.signed_length + marker_size, 128).data();
        for (std::size_t i = 0; i < 32; ++i) {
            loc.r[i] = hex_pair(p + 2 * i);
            loc.s[i] = hex_pair(p + 64 + 2 * i);
        }
        return loc;
    }
    return std::nullopt;
}

std::optional<signature_location> locate_signature(byte_view data) {
    view_source source(data);
    return locate_signature(source);
}

std::optional<root::sha256::digest_type> signed_digest(byte_source& b, const signature_location& where) {
    const std::uint64_t l = where.signed_length;
    root::sha256 h;
    const auto feed = [&](std::uint64_t from, std::uint64_t to) {
        if (to > b.size())
            throw exceptions::error(exceptions::access_denied_code, "Unable to read outside of the mapped view!");
        while (from < to) {
            const byte_view w = b.window(from, static_cast<std::size_t>(std::min<std::uint64_t>(to - from, SIZE_MAX)));
            if (w.empty())
                throw exceptions::error(exceptions::access_denied_code, "Unable to read outside of the mapped view!");
            h.update(w.data(), w.size());
            from += w.size();
        }
    };
    if (where.pe.is_pe) {
        const std::uint64_t chk = where.pe.checksum_offset;
        const std::uint64_t sec = where.pe.security_entry;
        if (where.version == 2) {
            if (l < chk + 4) return std::nullopt;
            static constexpr std::uint8_t zeros[4] = {};
            feed(0, chk);
            h.update(zeros, 4);
            feed(chk + 4, l);
        } else {
            if (l < sec + 8) return std::nullopt;
            feed(0, chk);
            feed(chk + 4, sec);
            feed(sec + 8, l);
        }
    } else {
        feed(0, l);
    }
    if (where.version == 3) {
        std::uint8_t length[8];
        for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(l >> (8 * i));
        h.update(length, 8);
    }
    return h.finish();
}

std::optional<root::sha256::digest_type> signed_digest(byte_view data, const signature_location& where) {
    view_source source(data);
    return signed_digest(source, where);
}

int verify_block(byte_source& b, int set) {
    const std::vector<int> numbers = keys::key_set(set);
    const auto where = locate_signature(b);
    if (!where) return 0;
    const auto digest = signed_digest(b, *where);
    if (!digest) return 0;
    for (int number : numbers) {
        if (root::dsa_verify(keys::key(number), *digest, where->r, where->s)) return number;
    }
    return 0;
}

int verify_block(byte_view data, int set) {
    view_source source(data);
    return verify_block(source, set);
}

}  // namespace qzr::sfx
