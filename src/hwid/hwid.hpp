// The hardware identifier: a stable value per machine, made of a digest of
// the system disk's serial number and a digest of the firmware's serial
// numbers and tags. This half decides; the device and firmware queries that
// feed it live on the Windows side and hand over bytes and strings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "framework/byte_view.hpp"
#include "hwid/smbios.hpp"

namespace qzr::hwid {

using digest = std::array<std::uint8_t, 16>;
// Disk digest followed by board digest; a half is zero when nothing fed it.
using identifier = std::array<std::uint8_t, 32>;

// --- disk serial numbers ---------------------------------------------------

// Drives pad their serials with blanks; what follows the last visible
// character is not part of the number. Leading blanks are kept.
std::string trim_trailing_white_space(std::string_view text);

// Before Windows 8 the storage property carries the serial as hex digits of
// the identify data, whose bytes come in swapped pairs. Text that is not an
// even run of hex digits is returned as it is: some drivers already give the
// plain serial there. The decoded text ends at its first NUL.
std::string decode_swapped_hex(std::string_view text);

// The serial of a storage device descriptor (the bytes the property query
// returned): the NUL-ended text at the descriptor's serial-number offset,
// decoded when hex_encoded, without trailing white space. Empty when the
// offset is zero or outside the bytes.
std::string storage_property_serial(byte_view descriptor, bool hex_encoded);

// The serial in ATA identify data: 20 bytes at word 10, each byte pair
// swapped, ending at a NUL, without trailing white space. Empty when the
// data are too short.
std::string identify_serial(byte_view identify_data);

// One serial per method, in the order they are asked: storage property,
// SMART identify, SMART identify with its own parameters, SCSI miniport.
using disk_serials = std::array<std::string, 4>;

// The method whose serial most methods agree on. A strictly higher count
// wins, so on a tie the earlier method keeps it; empty serials are no
// candidates. Nothing when every serial is empty.
std::optional<std::size_t> vote(const disk_serials& serials);

// The winner passes once through the ANSI code page (narrow, wide, narrow)
// before it is digested, so characters the code page cannot hold read the
// same way every time. Windows supplies the conversion; empty means none.
using ansi_round_trip = std::function<std::string(const std::string&)>;

// MD5 of the elected serial's bytes; nothing when no serial was elected.
std::optional<digest> disk_digest(const disk_serials& serials, const ansi_round_trip& round_trip = {});

// MD5 over every non-empty serial and tag of the record in a fixed order,
// then, when the table was read, the system UUID and the processor ID.
// Nothing when nothing was fed.
std::optional<digest> board_digest(const smbios_record& smbios);

// --- the identifier ----------------------------------------------------------

// What the Windows side gathered.
struct hwid_sources {
    disk_serials disk;
    smbios_record smbios;
};

struct hwid_state {
    identifier value{};
    digest value_digest{};  // MD5 of value, for users other than the analytics event
    std::int64_t bios_release_date = 0;  // seconds since 1970 UTC, when smbios_read and the BIOS gave a date
    bool smbios_read = false;
    // Either half got data. Without it the next caller computes again: a
    // machine on which nothing could be read may answer later.
    bool computed = false;
};

hwid_state compute_hwid(const hwid_sources& sources, const ansi_round_trip& round_trip = {});

// 64 uppercase hex digits, no separators.
std::string text_form(const identifier& id);

// The process-wide value: the first caller gathers and computes while later
// callers wait, then they all copy the result.
class hwid_cache {
public:
    using gather_fn = std::function<hwid_sources()>;

    explicit hwid_cache(gather_fn gather, ansi_round_trip round_trip = {})
        : gather_(std::move(gather)), round_trip_(std::move(round_trip)) {}

    identifier get();
    // The whole state after get().
    hwid_state state();

private:
    void ensure_computed();

    std::mutex mutex_;
    gather_fn gather_;
    ansi_round_trip round_trip_;
    hwid_state state_;
};

}  // namespace qzr::hwid
