// The Windows side of the hardware identifier: the device and firmware
// queries that feed the pure half, and the process-wide value.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "hwid/hwid.hpp"

namespace qzr::hwid {

// The physical disk index of the volume that holds the system directory;
// 0 when any step of finding it fails.
std::uint32_t system_disk_number() noexcept;

// The serial of the disk by each of the four methods, in voting order; a
// method that fails leaves its serial empty. Only allocation failures raise.
disk_serials read_disk_serials(std::uint32_t disk);

// The raw SMBIOS table as the 'RSMB' firmware-table provider gives it.
struct firmware_table {
    std::uint32_t status = smbios_status::not_found;  // a Windows error when the table was not read
    std::uint32_t reported_size = 0;                  // what the size query answered
    std::vector<std::uint8_t> bytes;                  // the data, when status is 0
};
firmware_table read_firmware_table();

// The firmware's record: the table handed to read_smbios, or the reader's
// failure as the record's status.
smbios_record read_smbios_record();

// Everything the identifier is made of, gathered from this machine.
hwid_sources gather_sources();

// Narrow to wide and back through the thread's ANSI code page. Text that
// does not convert comes back as it was.
std::string ansi_round_trip_thread_acp(const std::string& text);

// The process-wide identifier: computed on first use, copied afterwards.
// 0, or E_FAIL when memory ran out on the way.
std::int32_t get_hardware_identifier(std::array<std::uint8_t, 32>& out);
// The same value as 64 uppercase hex digits.
std::wstring hardware_identifier_text();
// The whole cached state (second digest, BIOS date) for its other users.
hwid_state hardware_identifier_state();

}  // namespace qzr::hwid
