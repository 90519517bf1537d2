#include "hwid/smbios.hpp"

#include <algorithm>
#include <cstring>

namespace qzr::hwid {

namespace {

// Offsets in the formatted areas of the structures we read.
namespace bios_info {
constexpr std::uint8_t type = 0;
constexpr std::size_t release_date = 0x08;
}  // namespace bios_info
namespace system_info {
constexpr std::uint8_t type = 1;
constexpr std::size_t serial_number = 0x07, uuid = 0x08;
}  // namespace system_info
namespace baseboard {
constexpr std::uint8_t type = 2;
constexpr std::size_t serial_number = 0x07, asset_tag = 0x08;
}  // namespace baseboard
namespace chassis {
constexpr std::uint8_t type = 3;
constexpr std::size_t serial_number = 0x07, asset_tag = 0x08;
}  // namespace chassis
namespace processor {
constexpr std::uint8_t type = 4;
constexpr std::size_t id = 0x08, serial_number = 0x20, asset_tag = 0x21;
}  // namespace processor
namespace memory_device {
constexpr std::uint8_t type = 17;
constexpr std::size_t serial_number = 0x18, asset_tag = 0x19, part_number = 0x1A;
}  // namespace memory_device
namespace battery {
constexpr std::uint8_t type = 22;
constexpr std::size_t serial_number = 0x07;
}  // namespace battery
namespace power_supply {
constexpr std::uint8_t type = 39;
constexpr std::size_t serial_number = 0x08, asset_tag = 0x09, part_number = 0x0A;
}  // namespace power_supply

// The string set that starts at offset: strings ended by NUL, the set ended
// by an extra NUL (a set without strings is just two NULs). Returns where the
// next structure starts, or nothing when the set is not closed before the
// table ends: then only the strings whose NUL was found are kept.
std::optional<std::uint64_t> read_string_set(byte_view table, std::uint64_t offset,
                                             std::vector<std::string_view>& strings) {
    const auto rest = table.span(offset, table.size() - offset);
    const auto* text = reinterpret_cast<const char*>(rest.data());
    std::size_t close = rest.size();
    for (std::size_t i = 0; i + 1 < rest.size(); ++i) {
        if (rest[i] == 0 && rest[i + 1] == 0) {
            close = i;
            break;
        }
    }
    const bool closed = close < rest.size();
    // With the set closed, the NUL at close ends the last string; without it,
    // a trailing run of bytes with no NUL is not a string.
    const std::size_t area = closed ? close + 1 : rest.size();
    if (!(closed && close == 0)) {
        std::size_t start = 0;
        for (std::size_t i = 0; i < area; ++i) {
            if (rest[i] != 0) continue;
            strings.emplace_back(text + start, i - start);
            start = i + 1;
        }
    }
    if (!closed) return std::nullopt;
    return offset + close + 2;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) noexcept { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days from 1970-01-01 to the given proleptic Gregorian date (month 1-12).
std::int64_t days_from_civil(std::int64_t year, std::int64_t month, std::int64_t day) noexcept {
    year -= month <= 2;
    const std::int64_t era = floor_div(year, 400);
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// One "%d" conversion: optional white space, optional sign, digits. Values
// outside a 32-bit int are refused rather than wrapped.
bool scan_int(std::string_view text, std::size_t& pos, std::int64_t& value) noexcept {
    while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    const std::size_t first = pos;
    std::int64_t v = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        v = v * 10 + (text[pos++] - '0');
        if (v > 0x80000000LL) return false;
    }
    if (pos == first) return false;
    value = negative ? -v : v;
    return value >= -0x80000000LL && value <= 0x7FFFFFFFLL;
}

}  // namespace

std::string_view smbios_structure::string(std::uint8_t number) const noexcept {
    if (number == 0 || number > strings_.size()) return {};
    return strings_[number - 1];
}

std::string_view smbios_structure::string_at(std::size_t offset) const noexcept {
    if (offset >= formatted_.size()) return {};
    return string(formatted_.data()[offset]);
}

bool smbios_structure::copy(std::size_t offset, std::span<std::uint8_t> out) const noexcept {
    if (!formatted_.contains(offset, out.size())) return false;
    if (!out.empty()) std::memcpy(out.data(), formatted_.data() + offset, out.size());
    return true;
}

smbios_table::smbios_table(byte_view raw) {
    if (raw.size() < header_size) return;
    has_header_ = true;
    major_ = raw.u8(1);
    minor_ = raw.u8(2);
    const std::uint64_t stated = raw.u32(4);
    walk(raw.sub(header_size, std::min<std::uint64_t>(stated, raw.size() - header_size)));
}

void smbios_table::walk(byte_view table) {
    std::uint64_t pos = 0;
    while (table.contains(pos, 4)) {
        const std::uint8_t type = table.u8(pos);
        const std::uint8_t length = table.u8(pos + 1);
        // A length below the header's own size or past the end leaves no
        // way to find the next structure: what came before is all we have.
        if (length < 4 || !table.contains(pos, length)) return;
        std::vector<std::string_view> strings;
        const auto next = read_string_set(table, pos + length, strings);
        structures_.emplace_back(table.sub(pos, length), std::move(strings));
        if (!next || type == end_of_table_type) return;
        pos = *next;
    }
}

const smbios_structure* smbios_table::find(std::uint8_t type, std::size_t instance) const {
    for (const auto& s : structures_) {
        if (s.type() != type) continue;
        if (instance-- == 0) return &s;
    }
    return nullptr;
}

smbios_record read_smbios(byte_view raw) {
    smbios_record r;
    const smbios_table table(raw);
    if (!table.has_header()) {
        r.status = smbios_status::invalid_parameter;
        return r;
    }
    r.major_version = table.major_version();
    r.minor_version = table.minor_version();
    if (table.major_version() < 2) return r;  // not_found: version 1 tables are not trusted
    r.status = smbios_status::read;

    // The system UUID exists from version 2.1 on; an older table's bytes at
    // its offset belong to nothing and must not reach the identifier.
    const bool has_uuid = table.at_least(2, 1);
    // "Later than 2.2" is a version compared as a pair of integers, 2.3 and
    // up (2.10 is later than 2.2): processor serial and tag, the memory
    // device strings and the power supply structure all appeared in 2.3,
    // and reading them from an older table would read fields it never had.
    const bool later_than_2_2 = table.at_least(2, 3);

    if (const auto* s = table.find(bios_info::type))
        r.bios_release_date = parse_bios_date(s->string_at(bios_info::release_date));
    if (const auto* s = table.find(system_info::type)) {
        r.system_serial_number = std::string(s->string_at(system_info::serial_number));
        if (has_uuid) s->copy(system_info::uuid, r.system_uuid);
    }
    if (const auto* s = table.find(baseboard::type)) {
        r.baseboard_serial_number = std::string(s->string_at(baseboard::serial_number));
        r.baseboard_asset_tag = std::string(s->string_at(baseboard::asset_tag));
    }
    if (const auto* s = table.find(chassis::type)) {
        r.chassis_serial_number = std::string(s->string_at(chassis::serial_number));
        r.chassis_asset_tag = std::string(s->string_at(chassis::asset_tag));
    }
    if (const auto* s = table.find(processor::type)) {
        s->copy(processor::id, r.processor_id);
        if (later_than_2_2) {
            r.processor_serial_number = std::string(s->string_at(processor::serial_number));
            r.processor_asset_tag = std::string(s->string_at(processor::asset_tag));
        }
    }
    if (!later_than_2_2) return r;

    std::size_t devices = 0;
    for (const auto& s : table.structures()) {
        if (s.type() != memory_device::type) continue;
        if (devices++ == max_memory_devices) break;
        r.memory_part_numbers += s.string_at(memory_device::part_number);
        r.memory_serial_numbers += s.string_at(memory_device::serial_number);
        r.memory_asset_tags += s.string_at(memory_device::asset_tag);
    }
    if (const auto* s = table.find(battery::type))
        r.battery_serial_number = std::string(s->string_at(battery::serial_number));
    if (const auto* s = table.find(power_supply::type)) {
        r.power_supply_part_number = std::string(s->string_at(power_supply::part_number));
        r.power_supply_serial_number = std::string(s->string_at(power_supply::serial_number));
        r.power_supply_asset_tag = std::string(s->string_at(power_supply::asset_tag));
    }
    return r;
}

std::optional<std::int64_t> parse_bios_date(std::string_view text) noexcept {
    std::size_t pos = 0;
    std::int64_t month = 0, day = 0, year = 0;
    if (!scan_int(text, pos, month) || pos >= text.size() || text[pos++] != '/') return std::nullopt;
    if (!scan_int(text, pos, day) || pos >= text.size() || text[pos++] != '/') return std::nullopt;
    if (!scan_int(text, pos, year)) return std::nullopt;
    if (year <= 1899) year += 1900;
    // Months and days outside their range carry into the next unit.
    const std::int64_t month_index = month - 1;
    year += floor_div(month_index, 12);
    const std::int64_t m = month_index - floor_div(month_index, 12) * 12 + 1;
    const std::int64_t days = days_from_civil(year, m, 1) + (day - 1);
    return days * 86400;
}

}  // namespace qzr::hwid
