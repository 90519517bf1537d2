#include "payload_writer.hpp"

#include <stdexcept>

namespace qzr::pack {

namespace {

void put_le(bytes& out, std::uint64_t v, unsigned n) {
    for (unsigned i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint64_t get_le(std::span<const std::uint8_t> b, std::uint64_t at, unsigned n) {
    if (at > b.size() || b.size() - at < n) throw std::runtime_error("not a PE image: headers are cut off");
    std::uint64_t v = 0;
    for (unsigned i = n; i-- > 0;) v = v << 8 | b[at + i];
    return v;
}

}  // namespace

void append_entry(bytes& out, const entry_header& h, std::span<const std::uint8_t> data) {
    if (h.alias.size() > 0xFFFF) throw std::runtime_error("alias longer than 65535 bytes: " + h.alias);
    if (data.size() > 0xFFFFFFFFull) throw std::runtime_error("entry data of 4 GiB or more: " + h.alias);
    out.push_back(1);
    out.insert(out.end(), {'A', 'P', 'E'});
    put_le(out, h.type, 4);
    put_le(out, h.flags, 4);
    put_le(out, h.timestamp, 8);
    put_le(out, data.size(), 4);
    out.insert(out.end(), std::begin(h.sha256), std::end(h.sha256));
    put_le(out, h.alias.size(), 2);
    out.insert(out.end(), h.alias.begin(), h.alias.end());
    out.insert(out.end(), data.begin(), data.end());
}

void append_end_entry(bytes& out) {
    out.push_back(1);
    out.insert(out.end(), {'A', 'P', 'E'});
    put_le(out, 0x3A, 4);
    put_le(out, 0x10, 4);
    out.insert(out.end(), 58 - 12, 0);
}

std::uint64_t image_end(std::span<const std::uint8_t> image) {
    if (image.size() < 64 || image[0] != 'M' || image[1] != 'Z') throw std::runtime_error("not a PE image: no MZ");
    const std::uint64_t nt = get_le(image, 0x3C, 4);
    if (get_le(image, nt, 4) != 0x00004550) throw std::runtime_error("not a PE image: no NT signature");
    const std::uint64_t sections = get_le(image, nt + 6, 2);
    const std::uint64_t table = nt + 24 + get_le(image, nt + 20, 2);
    std::uint64_t end = 0;
    for (std::uint64_t i = 0; i < sections; ++i) {
        const std::uint64_t h = table + 40 * i;
        end = std::max(end, get_le(image, h + 20, 4) + get_le(image, h + 16, 4));
    }
    return end;
}

}  // namespace qzr::pack
