// The firmware's SMBIOS table, as the 'RSMB' firmware-table provider hands it
// over, and the record of the serial numbers and tags the hardware identifier
// is made of.
//
// The table comes from firmware we do not control: every length in it may be
// wrong. The walker never reads outside the bytes it was given; a structure it
// cannot delimit ends the walk, and everything before it stays usable.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/byte_view.hpp"

namespace qzr::hwid {

// Why the record holds no table data. Windows error codes, because the
// firmware reader's own failures (no provider, no memory) are reported the
// same way.
namespace smbios_status {
inline constexpr std::uint32_t read = 0;
inline constexpr std::uint32_t not_enough_memory = 8;    // the table buffer could not be allocated
inline constexpr std::uint32_t invalid_parameter = 87;   // shorter than the 8-byte header
inline constexpr std::uint32_t not_found = 1168;         // no table, or one older than version 2
inline constexpr std::uint32_t not_enough_quota = 1816;  // passed on from the firmware reader
}  // namespace smbios_status

// One structure: its formatted area (header included, so offsets are the
// ones firmware documents use) and its string set.
class smbios_structure {
public:
    smbios_structure(byte_view formatted, std::vector<std::string_view> strings) noexcept
        : formatted_(formatted), strings_(std::move(strings)) {}

    std::uint8_t type() const { return formatted_.u8(0); }
    std::uint8_t length() const noexcept { return static_cast<std::uint8_t>(formatted_.size()); }
    std::uint16_t handle() const { return formatted_.u16(2); }
    byte_view formatted() const noexcept { return formatted_; }

    // String by its 1-based number; 0 or a number past the set is empty.
    std::string_view string(std::uint8_t number) const noexcept;
    // The string whose number is the byte at offset; empty when the offset
    // lies beyond this structure's formatted area.
    std::string_view string_at(std::size_t offset) const noexcept;
    // Copies out.size() bytes at offset; false (out untouched) when they do
    // not all lie inside the formatted area.
    bool copy(std::size_t offset, std::span<std::uint8_t> out) const noexcept;

private:
    byte_view formatted_;
    std::vector<std::string_view> strings_;
};

// The structure table with its version, walked once. The views point into
// the bytes given, which must outlive the table.
class smbios_table {
public:
    static constexpr std::size_t header_size = 8;
    static constexpr std::uint8_t end_of_table_type = 127;

    // The raw provider data: calling method, major, minor, DMI revision
    // (one byte each), table length (u32 LE), then the structures. A table
    // length larger than the bytes given is cut to them.
    explicit smbios_table(byte_view raw);

    bool has_header() const noexcept { return has_header_; }
    std::uint8_t major_version() const noexcept { return major_; }
    std::uint8_t minor_version() const noexcept { return minor_; }
    // Version ordering: true when the table's major.minor is at least the one given.
    bool at_least(std::uint8_t major, std::uint8_t minor) const noexcept {
        return major_ > major || (major_ == major && minor_ >= minor);
    }

    const std::vector<smbios_structure>& structures() const noexcept { return structures_; }
    // The instance-th (0-based) structure of the type, if present.
    const smbios_structure* find(std::uint8_t type, std::size_t instance = 0) const;

private:
    void walk(byte_view table);

    bool has_header_ = false;
    std::uint8_t major_ = 0;
    std::uint8_t minor_ = 0;
    std::vector<smbios_structure> structures_;
};

// What the hardware identifier takes from the table. Strings are the
// firmware's bytes (the system's ANSI code page), untrimmed.
struct smbios_record {
    std::uint32_t status = smbios_status::not_found;
    std::uint8_t major_version = 0;
    std::uint8_t minor_version = 0;

    std::string system_serial_number;
    std::array<std::uint8_t, 16> system_uuid{};  // as stored; zero before version 2.1
    std::string baseboard_serial_number;
    std::string baseboard_asset_tag;
    std::string chassis_serial_number;
    std::string chassis_asset_tag;
    std::array<std::uint8_t, 8> processor_id{};
    std::string processor_serial_number;
    std::string processor_asset_tag;
    // Every memory device's string, concatenated in table order.
    std::string memory_part_numbers;
    std::string memory_serial_numbers;
    std::string memory_asset_tags;
    std::string battery_serial_number;
    std::string power_supply_part_number;
    std::string power_supply_serial_number;
    std::string power_supply_asset_tag;
    // Seconds since 1970-01-01 UTC; empty when the BIOS gives no date that parses.
    std::optional<std::int64_t> bios_release_date;
};

// At most this many memory devices contribute their strings.
inline constexpr std::size_t max_memory_devices = 256;

smbios_record read_smbios(byte_view raw);

// "month/day/year" as the BIOS information structure stores it. A year up to
// 1899 counts from 1900 ("99" is 1999); out-of-range months and days carry
// over as the C calendar functions carry them ("13/01/2010" is 2011-01-01).
std::optional<std::int64_t> parse_bios_date(std::string_view text) noexcept;

}  // namespace qzr::hwid
