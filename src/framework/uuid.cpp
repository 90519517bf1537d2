#include "framework/uuid.hpp"

#include <cstring>

#include "framework/sha256.hpp"
#include "framework/text_format.hpp"

namespace qzr::uuid {

uuid make_v4(std::span<const std::uint8_t, 16> b) noexcept {
    uuid id;
    id.data1 = std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
    id.data2 = static_cast<std::uint16_t>(b[4] | b[5] << 8);
    id.data3 = static_cast<std::uint16_t>(b[6] | b[7] << 8);
    for (int i = 0; i < 8; ++i) id.data4[i] = b[8 + i];
    id.data3 = static_cast<std::uint16_t>((id.data3 & 0x0FFF) | 0x4000);
    id.data4[0] = static_cast<std::uint8_t>((id.data4[0] & 0x3F) | 0x80);
    return id;
}

std::wstring to_wstring(const uuid& id) {
    const auto& d = id.data4;
    return text::format(L"%08lx-%04hx-%04hx-%02hhx%02hhx-%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx", id.data1, id.data2,
                        id.data3, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
}

std::string to_string(const uuid& id) {
    const auto& d = id.data4;
    return text::format("%08lx-%04hx-%04hx-%02hhx%02hhx-%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx", id.data1, id.data2,
                        id.data3, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
}

bool has_uuid_shape(std::wstring_view text) noexcept {
    return text.size() == 36 && text[8] == L'-' && text[13] == L'-' && text[18] == L'-' && text[23] == L'-';
}

random_generator::random_generator(const seed_type& seed, counter_fn counter) noexcept
    : state_(seed), counter_(counter) {}

std::uint64_t random_generator::draw() {
    std::lock_guard<std::mutex> guard(lock_);
    root::sha256 h;
    h.update(state_);
    const std::uint64_t tsc = counter_ ? counter_() : 0;
    h.update(&tsc, sizeof tsc);
    state_ = h.finish();
    std::uint64_t out;
    std::memcpy(&out, state_.data(), sizeof out);
    return out;
}

random_generator& process_generator() {
    static random_generator generator(gather_seed(), &timestamp_counter);
    return generator;
}

uuid random_uuid() {
    auto& g = process_generator();
    std::uint8_t bytes[16];
    const std::uint64_t a = g.draw();
    const std::uint64_t b = g.draw();
    std::memcpy(bytes, &a, 8);
    std::memcpy(bytes + 8, &b, 8);
    return make_v4(std::span<const std::uint8_t, 16>(bytes));
}

}  // namespace qzr::uuid
