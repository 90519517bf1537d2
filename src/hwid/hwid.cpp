#include "hwid/hwid.hpp"

#include <algorithm>
#include <utility>

#include "framework/hex.hpp"
#include "framework/md5.hpp"

namespace qzr::hwid {

namespace {

// White space as the C locale knows it; bytes above 0x7F are characters of
// the ANSI code page, never blanks.
bool is_white_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string swap_pairs_up_to_nul(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        if (i + 1 < bytes.size()) out.push_back(static_cast<char>(bytes[i + 1]));
        out.push_back(static_cast<char>(bytes[i]));
    }
    return out.substr(0, out.find('\0'));
}

// Where the descriptor keeps the offset of its serial text: after version,
// size, four one-byte fields and the vendor, product and revision offsets.
constexpr std::size_t serial_number_offset_field = 24;
// Word 10 of the identify data, 10 words long.
constexpr std::size_t identify_serial_offset = 20;
constexpr std::size_t identify_serial_size = 20;

}  // namespace

std::string trim_trailing_white_space(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && is_white_space(text[end - 1])) --end;
    return std::string(text.substr(0, end));
}

std::string decode_swapped_hex(std::string_view text) {
    std::size_t first = 0, last = text.size();
    while (first < last && is_white_space(text[first])) ++first;
    while (last > first && is_white_space(text[last - 1])) --last;
    const auto bytes = hex::decode(text.substr(first, last - first));
    if (!bytes) return std::string(text);
    return swap_pairs_up_to_nul(*bytes);
}

std::string storage_property_serial(byte_view descriptor, bool hex_encoded) {
    if (!descriptor.contains(serial_number_offset_field, 4)) return {};
    const std::uint64_t offset = descriptor.u32(serial_number_offset_field);
    if (offset == 0 || offset >= descriptor.size()) return {};
    const auto rest = descriptor.span(offset, descriptor.size() - offset);
    const auto nul = std::find(rest.begin(), rest.end(), std::uint8_t{0});
    const std::string_view text(reinterpret_cast<const char*>(rest.data()),
                                static_cast<std::size_t>(nul - rest.begin()));
    return trim_trailing_white_space(hex_encoded ? decode_swapped_hex(text) : std::string(text));
}

std::string identify_serial(byte_view identify_data) {
    if (!identify_data.contains(identify_serial_offset, identify_serial_size)) return {};
    return trim_trailing_white_space(
        swap_pairs_up_to_nul(identify_data.span(identify_serial_offset, identify_serial_size)));
}

std::optional<std::size_t> vote(const disk_serials& serials) {
    std::optional<std::size_t> winner;
    std::ptrdiff_t best = 0;
    for (std::size_t i = 0; i < serials.size(); ++i) {
        if (serials[i].empty()) continue;
        const auto count = std::count(serials.begin(), serials.end(), serials[i]);
        if (count > best) {
            best = count;
            winner = i;
        }
    }
    return winner;
}

std::optional<digest> disk_digest(const disk_serials& serials, const ansi_round_trip& round_trip) {
    const auto winner = vote(serials);
    if (!winner) return std::nullopt;
    const std::string text = round_trip ? round_trip(serials[*winner]) : serials[*winner];
    root::md5 h;
    h.update(text.data(), text.size());
    return h.finish();
}

std::optional<digest> board_digest(const smbios_record& smbios) {
    root::md5 h;
    bool fed = false;
    for (const std::string* s :
         {&smbios.system_serial_number, &smbios.baseboard_serial_number, &smbios.baseboard_asset_tag,
          &smbios.chassis_serial_number, &smbios.chassis_asset_tag, &smbios.processor_serial_number,
          &smbios.processor_asset_tag, &smbios.memory_part_numbers, &smbios.memory_serial_numbers,
          &smbios.memory_asset_tags, &smbios.battery_serial_number, &smbios.power_supply_part_number,
          &smbios.power_supply_serial_number, &smbios.power_supply_asset_tag}) {
        if (s->empty()) continue;
        h.update(s->data(), s->size());
        fed = true;
    }
    // A table that was read always contributes both: the UUID as zeros
    // when the table is too old to have one, the processor ID as zeros when
    // there is no processor structure.
    if (smbios.status == smbios_status::read) {
        h.update(smbios.system_uuid);
        h.update(smbios.processor_id);
        fed = true;
    }
    if (!fed) return std::nullopt;
    return h.finish();
}

hwid_state compute_hwid(const hwid_sources& sources, const ansi_round_trip& round_trip) {
    hwid_state state;
    const auto disk = disk_digest(sources.disk, round_trip);
    const auto board = board_digest(sources.smbios);
    if (disk) std::copy(disk->begin(), disk->end(), state.value.begin());
    if (board) std::copy(board->begin(), board->end(), state.value.begin() + 16);
    state.value_digest = root::md5::of(state.value);
    state.smbios_read = sources.smbios.status == smbios_status::read;
    if (state.smbios_read) state.bios_release_date = sources.smbios.bios_release_date.value_or(0);
    state.computed = disk.has_value() || board.has_value();
    return state;
}

std::string text_form(const identifier& id) { return hex::encode(id, true); }

void hwid_cache::ensure_computed() {
    if (state_.computed) return;
    state_ = compute_hwid(gather_(), round_trip_);
}

identifier hwid_cache::get() {
    const std::lock_guard lock(mutex_);
    ensure_computed();
    return state_.value;
}

hwid_state hwid_cache::state() {
    const std::lock_guard lock(mutex_);
    ensure_computed();
    return state_;
}

}  // namespace qzr::hwid
