#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "framework/hex.hpp"
#include "hwid/hwid_win.hpp"

using namespace qzr::hwid;

namespace {

bool all_zero(const identifier& id, std::size_t first) {
    return std::all_of(id.begin() + first, id.begin() + first + 16, [](std::uint8_t b) { return b == 0; });
}

std::string shown(const std::string& serial) { return serial.empty() ? "(empty)" : "\"" + serial + "\""; }

}  // namespace

TEST(HwidWin, IsTheSameValueOnEveryCallAndInBothForms) {
    identifier first{}, second{};
    second.fill(0xCC);
    ASSERT_EQ(get_hardware_identifier(first), 0);
    ASSERT_EQ(get_hardware_identifier(second), 0);
    EXPECT_EQ(first, second);

    const std::wstring text = hardware_identifier_text();
    ASSERT_EQ(text.size(), 64u);
    EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                            [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'); }))
        << std::string(text.begin(), text.end());
    EXPECT_EQ(std::string(text.begin(), text.end()), text_form(first));
    EXPECT_EQ(hardware_identifier_state().value, first);
}

// Gathering again on the same machine must give what the cache holds: the
// cache is fed by the same queries and the same code page round trip.
TEST(HwidWin, GatheringAgainGivesTheCachedValueAndReportsWhatTheMachineGave) {
    identifier cached{};
    ASSERT_EQ(get_hardware_identifier(cached), 0);

    const std::uint32_t disk = system_disk_number();
    const disk_serials serials = read_disk_serials(disk);
    const firmware_table table = read_firmware_table();
    const smbios_record record = read_smbios_record();

    std::printf("[ hwid     ] system disk number: %u\n", disk);
    const char* const methods[] = {"storage property", "SMART identify", "SMART identify (own block)",
                                   "SCSI miniport"};
    for (std::size_t i = 0; i < serials.size(); ++i)
        std::printf("[ hwid     ] %s: %s\n", methods[i], shown(serials[i]).c_str());
    std::printf("[ hwid     ] firmware table: status %u, size query %u, data %zu bytes, SMBIOS %u.%u\n",
                table.status, table.reported_size, table.bytes.size(), record.major_version, record.minor_version);
    std::printf("[ hwid     ] record status %u, system serial %s, baseboard serial %s, chassis serial %s\n",
                record.status, shown(record.system_serial_number).c_str(),
                shown(record.baseboard_serial_number).c_str(), shown(record.chassis_serial_number).c_str());
    std::printf("[ hwid     ] system UUID %s, processor ID %s, BIOS date %lld\n",
                qzr::hex::encode(record.system_uuid, true).c_str(), qzr::hex::encode(record.processor_id, true).c_str(),
                static_cast<long long>(record.bios_release_date.value_or(-1)));
    std::printf("[ hwid     ] disk half %s, board half %s\n", all_zero(cached, 0) ? "zero" : "non-zero",
                all_zero(cached, 16) ? "zero" : "non-zero");

    if (table.status == smbios_status::read) {
        EXPECT_FALSE(table.bytes.empty());
        EXPECT_EQ(record.status, read_smbios(qzr::byte_view(table.bytes.data(), table.bytes.size())).status);
    } else {
        EXPECT_TRUE(table.bytes.empty());
        EXPECT_EQ(record.status, table.status);
    }

    const hwid_state again = compute_hwid({serials, record}, ansi_round_trip_thread_acp);
    EXPECT_EQ(again.value, cached);
    EXPECT_EQ(all_zero(cached, 0), !vote(serials).has_value());
}

TEST(HwidWin, AnsiRoundTripKeepsPlainTextAndItsLength) {
    EXPECT_EQ(ansi_round_trip_thread_acp(""), "");
    EXPECT_EQ(ansi_round_trip_thread_acp("WD-WCC4N1234567"), "WD-WCC4N1234567");
    // Serials are counted, not NUL-ended: an embedded NUL survives.
    const std::string with_nul("AB\0CD", 5);
    EXPECT_EQ(ansi_round_trip_thread_acp(with_nul), with_nul);
}
