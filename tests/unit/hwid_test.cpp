#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "framework/hex.hpp"
#include "framework/md5.hpp"
#include "hwid/hwid.hpp"
#include "hwid/smbios.hpp"

using namespace qzr;
using namespace qzr::hwid;

namespace {

using bytes = std::vector<std::uint8_t>;

// One SMBIOS structure as firmware lays it out: a formatted area of the
// given length (type, length and handle filled in), then its string set.
struct structure {
    bytes formatted;
    std::vector<std::string> strings;
    bool close_strings = true;

    structure(std::uint8_t type, std::uint8_t length) : formatted(length) {
        formatted.at(0) = type;
        formatted.at(1) = length;
    }
    // Adds the text to the string set and stores its number at offset.
    structure& text(std::size_t offset, std::string s) {
        strings.push_back(std::move(s));
        formatted.at(offset) = static_cast<std::uint8_t>(strings.size());
        return *this;
    }
    structure& byte(std::size_t offset, std::uint8_t v) {
        formatted.at(offset) = v;
        return *this;
    }
    structure& fill(std::size_t offset, std::size_t count, std::uint8_t first) {
        for (std::size_t i = 0; i < count; ++i) formatted.at(offset + i) = static_cast<std::uint8_t>(first + i);
        return *this;
    }
    void append_to(bytes& out) const {
        out.insert(out.end(), formatted.begin(), formatted.end());
        for (const auto& s : strings) {
            out.insert(out.end(), s.begin(), s.end());
            out.push_back(0);
        }
        if (!close_strings) return;
        if (strings.empty()) out.push_back(0);
        out.push_back(0);
    }
};

bytes structures_of(std::initializer_list<structure> list) {
    bytes out;
    for (const auto& s : list) s.append_to(out);
    return out;
}

// The provider's 8-byte header in front of the table; the stated length is
// the table's own unless a test makes it lie.
bytes raw_table(std::uint8_t major, std::uint8_t minor, const bytes& table, std::optional<std::uint32_t> stated = {}) {
    const std::uint32_t n = stated.value_or(static_cast<std::uint32_t>(table.size()));
    bytes out = {0, major, minor, 0, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                 static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
    out.insert(out.end(), table.begin(), table.end());
    return out;
}

// The parser reads from a heap block of exactly the table's size, so the
// sanitizer reports any read past its end.
template <class F>
auto with_exact_copy(const bytes& raw, std::size_t size, F&& f) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
    std::copy(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(size), copy.get());
    return f(byte_view(copy.get(), size));
}
smbios_record parse(const bytes& raw) {
    return with_exact_copy(raw, raw.size(), [](byte_view v) { return read_smbios(v); });
}

std::string hex_of(std::span<const std::uint8_t> b) { return hex::encode(b, true); }

structure bios_structure() { return structure(0, 0x12).text(0x04, "Vendor").text(0x05, "1.0").text(0x08, "03/15/2011"); }
structure system_structure() { return structure(1, 0x1B).text(0x04, "Maker").text(0x07, "SYS-1").fill(0x08, 16, 0x00); }

// A table with every structure the identifier reads, in the sizes of the
// version that introduced their fields.
bytes full_table() {
    return structures_of({
        bios_structure(),
        system_structure(),
        structure(2, 0x0F).text(0x07, "BB-2").text(0x08, "BB-TAG"),
        structure(3, 0x15).text(0x07, "CH-3").text(0x08, "CH-TAG"),
        structure(4, 0x28).fill(0x08, 8, 0xA0).text(0x20, "P-SER").text(0x21, "P-TAG"),
        structure(17, 0x1B).text(0x18, "S1").text(0x19, "A1").text(0x1A, "M1"),
        // A slot without an asset tag adds nothing to that list.
        structure(17, 0x1B).text(0x18, "S2").text(0x1A, "M2"),
        structure(22, 0x1A).text(0x04, "Where").text(0x07, "BAT"),
        structure(39, 0x16).text(0x08, "PSU-S").text(0x09, "PSU-A").text(0x0A, "PSU-P"),
        structure(127, 4),
    });
}

// Structures in their older, shorter sizes: the UUID needs 0x18 bytes, the
// processor strings 0x22, the memory part number 0x1B.
bytes short_table() {
    return structures_of({
        structure(1, 0x17).text(0x07, "SYS-1").fill(0x08, 15, 0x11),
        structure(2, 0x08).text(0x07, "BB-2"),
        structure(4, 0x21).fill(0x08, 8, 0xA0).text(0x20, "P-SER"),
        structure(17, 0x1A).text(0x18, "S1").text(0x19, "A1"),
        structure(4, 0x28).text(0x20, "SECOND-CPU"),
    });
}

}  // namespace

TEST(SmbiosRecord, ReadsEveryFieldOfALaterTable) {
    const auto r = parse(raw_table(2, 4, full_table()));
    EXPECT_EQ(r.status, smbios_status::read);
    EXPECT_EQ(r.major_version, 2);
    EXPECT_EQ(r.minor_version, 4);
    EXPECT_EQ(r.system_serial_number, "SYS-1");
    EXPECT_EQ(hex_of(r.system_uuid), "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(r.baseboard_serial_number, "BB-2");
    EXPECT_EQ(r.baseboard_asset_tag, "BB-TAG");
    EXPECT_EQ(r.chassis_serial_number, "CH-3");
    EXPECT_EQ(r.chassis_asset_tag, "CH-TAG");
    EXPECT_EQ(hex_of(r.processor_id), "A0A1A2A3A4A5A6A7");
    EXPECT_EQ(r.processor_serial_number, "P-SER");
    EXPECT_EQ(r.processor_asset_tag, "P-TAG");
    EXPECT_EQ(r.memory_part_numbers, "M1M2");
    EXPECT_EQ(r.memory_serial_numbers, "S1S2");
    EXPECT_EQ(r.memory_asset_tags, "A1");
    EXPECT_EQ(r.battery_serial_number, "BAT");
    EXPECT_EQ(r.power_supply_part_number, "PSU-P");
    EXPECT_EQ(r.power_supply_serial_number, "PSU-S");
    EXPECT_EQ(r.power_supply_asset_tag, "PSU-A");
    EXPECT_EQ(r.bios_release_date, 1300147200);  // 2011-03-15 00:00 UTC
}

TEST(SmbiosRecord, VersionDecidesUuidAndLaterFields) {
    struct version_case {
        std::uint8_t major, minor;
        bool uuid, later;
    };
    // "Later than 2.2" compares major and minor as numbers: 2.10 and 3.0
    // are later, 2.2 is not.
    for (auto [major, minor, uuid, later] : {version_case{2, 0, false, false}, version_case{2, 1, true, false},
                                             version_case{2, 2, true, false}, version_case{2, 3, true, true},
                                             version_case{2, 10, true, true}, version_case{3, 0, true, true},
                                             version_case{3, 7, true, true}}) {
        SCOPED_TRACE(testing::Message() << int(major) << "." << int(minor));
        const auto r = parse(raw_table(major, minor, full_table()));
        EXPECT_EQ(r.status, smbios_status::read);
        // Fields every version has.
        EXPECT_EQ(r.system_serial_number, "SYS-1");
        EXPECT_EQ(r.chassis_asset_tag, "CH-TAG");
        EXPECT_EQ(hex_of(r.processor_id), "A0A1A2A3A4A5A6A7");
        EXPECT_TRUE(r.bios_release_date.has_value());
        EXPECT_EQ(hex_of(r.system_uuid), uuid ? "000102030405060708090A0B0C0D0E0F" : std::string(32, '0'));
        EXPECT_EQ(r.processor_serial_number, later ? "P-SER" : "");
        EXPECT_EQ(r.processor_asset_tag, later ? "P-TAG" : "");
        EXPECT_EQ(r.memory_serial_numbers, later ? "S1S2" : "");
        EXPECT_EQ(r.battery_serial_number, later ? "BAT" : "");
        EXPECT_EQ(r.power_supply_part_number, later ? "PSU-P" : "");
    }
    const auto old = parse(raw_table(1, 9, full_table()));
    EXPECT_EQ(old.status, smbios_status::not_found);
    EXPECT_EQ(old.system_serial_number, "");
    EXPECT_EQ(parse(bytes{0, 2, 4, 0, 0, 0, 0}).status, smbios_status::invalid_parameter);
}

TEST(SmbiosRecord, FieldsBeyondAShortStructureAreEmpty) {
    const auto r = parse(raw_table(2, 6, short_table()));
    EXPECT_EQ(r.system_serial_number, "SYS-1");
    EXPECT_EQ(hex_of(r.system_uuid), std::string(32, '0'));
    EXPECT_EQ(r.baseboard_serial_number, "BB-2");
    EXPECT_EQ(r.baseboard_asset_tag, "");
    EXPECT_EQ(r.processor_serial_number, "P-SER");
    EXPECT_EQ(r.processor_asset_tag, "");  // 0x21 is the first byte past the structure
    EXPECT_EQ(r.memory_serial_numbers, "S1");
    EXPECT_EQ(r.memory_asset_tags, "A1");
    EXPECT_EQ(r.memory_part_numbers, "");
}

TEST(SmbiosStrings, NumberZeroOrPastTheSetIsEmpty) {
    auto sys = structure(1, 0x08).text(0x04, "Maker").text(0x05, "Model");
    sys.byte(0x06, 0).byte(0x07, 3);  // no version string; serial names a third string that is not there
    const auto table = raw_table(2, 4,
                                 structures_of({
                                     sys,
                                     structure(2, 0x0F).byte(0x07, 1).byte(0x08, 0xFF),  // no strings at all
                                     structure(3, 0x09).text(0x07, "CH-3").text(0x08, "CH-TAG"),
                                 }));
    const auto r = parse(table);
    EXPECT_EQ(r.system_serial_number, "");
    EXPECT_EQ(r.baseboard_serial_number, "");
    EXPECT_EQ(r.baseboard_asset_tag, "");
    // The empty set's two NULs were read as one closing pair.
    EXPECT_EQ(r.chassis_serial_number, "CH-3");
    EXPECT_EQ(r.chassis_asset_tag, "CH-TAG");

    with_exact_copy(table, table.size(), [](byte_view v) {
        const smbios_table t(v);
        const auto* s = t.find(1);
        EXPECT_NE(s, nullptr);
        if (!s) return 0;
        EXPECT_EQ(s->string(1), "Maker");
        EXPECT_EQ(s->string(2), "Model");
        EXPECT_EQ(s->string(0), "");
        EXPECT_EQ(s->string(3), "");
        EXPECT_EQ(s->string_at(0x06), "");
        EXPECT_EQ(s->string_at(0x08), "");  // past the formatted area
        EXPECT_EQ(t.find(1, 1), nullptr);
        return 0;
    });
}

TEST(SmbiosTable, InstancesAreCountedPerType) {
    bytes table;
    for (int i = 0; i < 300; ++i)
        structure(17, 0x1B).text(0x1A, std::string(1, static_cast<char>('a' + i % 26))).append_to(table);
    structure(4, 0x1A).byte(0x08, 0x77).append_to(table);
    const auto raw = raw_table(2, 7, table);
    const auto r = parse(raw);
    // Only the first 256 memory devices count.
    ASSERT_EQ(r.memory_part_numbers.size(), max_memory_devices);
    EXPECT_EQ(r.memory_part_numbers.substr(0, 3), "abc");
    EXPECT_EQ(r.memory_part_numbers.back(), 'a' + 255 % 26);
    EXPECT_EQ(r.processor_id[0], 0x77);  // found after all of them
    with_exact_copy(raw, raw.size(), [](byte_view v) {
        const smbios_table t(v);
        EXPECT_EQ(t.structures().size(), 301u);
        EXPECT_EQ(t.find(17, 299)->string(1), std::string(1, 'a' + 299 % 26));
        EXPECT_EQ(t.find(17, 300), nullptr);
        return 0;
    });
}

TEST(SmbiosTable, BrokenLengthsEndTheWalkWithoutLosingWhatCameBefore) {
    const auto good = structures_of({structure(1, 0x08).text(0x07, "SYS-1")});

    // The last structure claims more formatted bytes than the table has.
    auto cut = good;
    structure(2, 0x0F).text(0x07, "BB-2").append_to(cut);
    cut.resize(good.size() + 0x0A);
    auto r = parse(raw_table(2, 4, cut));
    EXPECT_EQ(r.system_serial_number, "SYS-1");
    EXPECT_EQ(r.baseboard_serial_number, "");

    // A length smaller than the structure header.
    auto tiny = good;
    tiny.insert(tiny.end(), {2, 3, 0, 0, 0, 0});
    structure(3, 0x09).text(0x07, "CH-3").append_to(tiny);
    r = parse(raw_table(2, 4, tiny));
    EXPECT_EQ(r.system_serial_number, "SYS-1");
    EXPECT_EQ(r.chassis_serial_number, "");

    // A string set never closed: the strings that end in a NUL count, the
    // unfinished one does not, and nothing follows.
    auto open = good;
    auto chassis = structure(3, 0x09).text(0x07, "CH-3").text(0x08, "CH-TAG");
    chassis.close_strings = false;
    chassis.append_to(open);
    open.pop_back();  // "CH-TAG" loses its NUL
    r = parse(raw_table(2, 4, open));
    EXPECT_EQ(r.chassis_serial_number, "CH-3");
    EXPECT_EQ(r.chassis_asset_tag, "");

    // Nothing after the end-of-table structure is read.
    auto ended = good;
    structure(127, 4).append_to(ended);
    structure(2, 0x0F).text(0x07, "BB-2").append_to(ended);
    r = parse(raw_table(2, 4, ended));
    EXPECT_EQ(r.baseboard_serial_number, "");
}

TEST(SmbiosTable, StatedLengthBoundsTheTableBothWays) {
    const auto table = full_table();
    // Longer than the bytes given: cut to them.
    auto r = parse(raw_table(2, 4, table, 0xFFFFFFF0u));
    EXPECT_EQ(r.power_supply_asset_tag, "PSU-A");
    // Shorter: structures after it are not part of the table, even though
    // the bytes are there.
    const auto first_two = structures_of({bios_structure(), system_structure()});
    r = parse(raw_table(2, 4, table, static_cast<std::uint32_t>(first_two.size())));
    EXPECT_EQ(r.status, smbios_status::read);
    EXPECT_EQ(r.system_serial_number, "SYS-1");
    EXPECT_EQ(r.baseboard_serial_number, "");
}

TEST(SmbiosTable, EveryTruncationParsesWithinItsBytes) {
    // The short table has fields right at its structures' ends: a cut just
    // after one of them puts that field one byte past the buffer.
    for (const auto& [table, structures] : {std::pair{full_table(), 10u}, std::pair{short_table(), 5u}}) {
        const auto raw = raw_table(3, 2, table);
        std::size_t previous = 0;
        for (std::size_t size = 0; size <= raw.size(); ++size) {
            // The stated length stays the full one, so every cut is a lying table.
            const auto count = with_exact_copy(raw, size, [](byte_view v) {
                read_smbios(v);
                return smbios_table(v).structures().size();
            });
            EXPECT_GE(count, previous) << size;
            previous = count;
        }
        EXPECT_EQ(previous, structures);
    }
}

TEST(SmbiosDate, MonthDayYearAsTheCLibraryReadsIt) {
    EXPECT_EQ(parse_bios_date("03/15/2011"), 1300147200);
    EXPECT_EQ(parse_bios_date("3/15/2011 extra"), 1300147200);
    EXPECT_EQ(parse_bios_date(" 3/ 15/ 2011"), 1300147200);  // "%d" skips leading blanks
    EXPECT_EQ(parse_bios_date("12/31/99"), 946598400);        // years up to 1899 count from 1900
    EXPECT_EQ(parse_bios_date("01/15/05"), -2050012800);      // 1905, not 2005
    EXPECT_EQ(parse_bios_date("01/01/1900"), -2208988800);
    EXPECT_EQ(parse_bios_date("01/01/1899"), 57717705600);    // 3799: 1899 is not above 1899
    EXPECT_EQ(parse_bios_date("1/1/1970"), 0);
    // Out-of-range parts carry over.
    EXPECT_EQ(parse_bios_date("13/01/2010"), 1293840000);  // 2011-01-01
    EXPECT_EQ(parse_bios_date("02/30/2012"), 1330560000);  // 2012-03-01
    EXPECT_EQ(parse_bios_date("01/00/2011"), 1293753600);  // 2010-12-31
    for (const char* bad : {"", "03-15-2011", "03/15", "03/15/", "3 /15/2011", "x/1/2011", "99999999999/1/2011"})
        EXPECT_EQ(parse_bios_date(bad), std::nullopt) << bad;
    // The BIOS structure without a date string, or with an odd one.
    EXPECT_EQ(parse(raw_table(2, 4, structures_of({structure(0, 0x12)}))).bios_release_date, std::nullopt);
}

TEST(HwidDiskSerial, IdentifyDataSwapsEachBytePair) {
    bytes identify(512, 0x41);
    const std::string stored = "DWW-AC1V325476 8    ";  // "WD-WCAV12345678" padded with blanks
    std::copy(stored.begin(), stored.end(), identify.begin() + 20);
    EXPECT_EQ(identify_serial(byte_view(identify.data(), identify.size())), "WD-WCAV12345678");
    // A NUL ends the serial; the 20 bytes are all there is (word 20 is 'A's).
    identify[20 + 5] = 0;  // the swapped position of the fifth character
    EXPECT_EQ(identify_serial(byte_view(identify.data(), identify.size())), "WD-W");
    std::fill(identify.begin() + 20, identify.begin() + 40, 'x');
    EXPECT_EQ(identify_serial(byte_view(identify.data(), identify.size())), std::string(20, 'x'));
    EXPECT_EQ(identify_serial(byte_view(identify.data(), 39)), "");
}

TEST(HwidDiskSerial, StoragePropertyTextAndItsOlderHexForm) {
    // A device descriptor whose serial-number offset (at 24) points at text.
    const auto descriptor = [](std::uint32_t offset, std::string text, std::size_t size = 0) {
        bytes d(64, 0);
        d[24] = static_cast<std::uint8_t>(offset);
        d[25] = static_cast<std::uint8_t>(offset >> 8);
        if (offset < d.size()) {
            d.resize(std::max(d.size(), offset + text.size() + 1), 0);
            std::copy(text.begin(), text.end(), d.begin() + offset);
        }
        if (size) d.resize(size);
        return d;
    };
    const auto serial = [&](const bytes& d, bool hex_encoded) {
        return with_exact_copy(d, d.size(), [&](byte_view v) { return storage_property_serial(v, hex_encoded); });
    };
    EXPECT_EQ(serial(descriptor(40, "  Z1X2C3V4   \t"), false), "  Z1X2C3V4");
    EXPECT_EQ(serial(descriptor(40, "3153325A2020"), true), "S1Z2");
    EXPECT_EQ(serial(descriptor(40, "3153325a41"), true), "S1Z2A");  // an odd last byte stays in place
    EXPECT_EQ(serial(descriptor(40, "not hex"), true), "not hex");
    EXPECT_EQ(serial(descriptor(0, "ignored"), false), "");
    EXPECT_EQ(serial(descriptor(64, ""), false), "");  // one past the returned bytes
    EXPECT_EQ(serial(descriptor(63, "Q", 64), false), "Q");
    // Text that runs to the end of the returned bytes without a NUL.
    EXPECT_EQ(serial(descriptor(60, "ABCDEFG", 64), false), "ABCD");
    EXPECT_EQ(serial(bytes(27, 0), false), "");  // too short to hold the offset

    EXPECT_EQ(decode_swapped_hex("3153325A"), "S1Z2");
    EXPECT_EQ(decode_swapped_hex("0031003200"), "1");  // a decoded NUL ends the text
    EXPECT_EQ(decode_swapped_hex("315"), "315");
    EXPECT_EQ(trim_trailing_white_space(" a b \r\n\v\f\t "), " a b");
    EXPECT_EQ(trim_trailing_white_space("\xA0"), "\xA0");  // a code-page character, not a blank
}

TEST(HwidVote, MostAgreedSerialWinsAndTiesGoToTheEarlierMethod) {
    EXPECT_EQ(vote({"A", "B", "A", ""}), 0u);
    EXPECT_EQ(vote({"A", "B", "", ""}), 0u);
    EXPECT_EQ(vote({"", "", "", ""}), std::nullopt);
    EXPECT_EQ(vote({"B", "A", "A", "B"}), 0u);  // 2 against 2: the first method holds
    EXPECT_EQ(vote({"A", "B", "B", ""}), 1u);   // a later majority beats the first method
    EXPECT_EQ(vote({"", "", "", "D"}), 3u);
    EXPECT_EQ(vote({"A", "", "C", "C"}), 2u);
    EXPECT_EQ(vote({"", "X", "Y", "Z"}), 1u);
    EXPECT_EQ(vote({"a", "A", "A", "a "}), 1u);  // equal means byte for byte
}

TEST(HwidDigest, DiskHalfIsTheDigestOfTheWinnerAfterItsRoundTrip) {
    // Expected values from: python3 -c 'import hashlib; print(hashlib.md5(b"WD-WCAV12345678").hexdigest())'
    const disk_serials serials = {"", "WD-WCAV12345678", "OTHER", "WD-WCAV12345678"};
    EXPECT_EQ(hex_of(*disk_digest(serials)), "3D43054FE7AE28203C21233029CCF68A");
    std::vector<std::string> seen;
    const auto d = disk_digest(serials, [&](const std::string& s) {
        seen.push_back(s);
        return std::string("?");
    });
    EXPECT_EQ(seen, std::vector<std::string>{"WD-WCAV12345678"});
    EXPECT_EQ(*d, root::md5::of(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("?"), 1)));
    EXPECT_EQ(disk_digest({"", "", "", ""}), std::nullopt);
}

TEST(HwidDigest, BoardHalfFeedsTheRecordInItsOrder) {
    smbios_record r;
    r.status = smbios_status::read;
    r.system_serial_number = "SYS-1";
    r.baseboard_serial_number = "BB-2";
    r.chassis_asset_tag = "CH-A";
    r.processor_serial_number = "P-SER";
    r.memory_part_numbers = "M1M2";
    r.memory_serial_numbers = "S1S2";
    r.battery_serial_number = "BAT";
    r.power_supply_serial_number = "PSU-S";
    for (std::uint8_t i = 0; i < 16; ++i) r.system_uuid[i] = i;
    for (std::uint8_t i = 0; i < 8; ++i) r.processor_id[i] = static_cast<std::uint8_t>(0xA0 + i);
    // python3: hashlib.md5(b"SYS-1BB-2CH-AP-SERM1M2S1S2BATPSU-S" + bytes(range(16))
    //                      + bytes(range(0xA0, 0xA8))).hexdigest()
    EXPECT_EQ(hex_of(*board_digest(r)), "EE2B5A21B4BC094CA6E6B5BF7427A40C");
    // Without a table read the identifiers stay out: md5(b"SYS-1BB-2...PSU-S").
    r.status = smbios_status::not_found;
    EXPECT_EQ(hex_of(*board_digest(r)), "8D14C9DB14B4EDB0449080D877AC8710");
    EXPECT_EQ(board_digest(smbios_record{}), std::nullopt);
    // A table read with no strings still gives its (zero) identifiers:
    // md5(bytes(24)).
    smbios_record empty_table;
    empty_table.status = smbios_status::read;
    EXPECT_EQ(hex_of(*board_digest(empty_table)), "1681FFC6E046C7AF98C9E6C232A3FE0A");
}

TEST(HwidDigest, OldTablesContributeNoUuid) {
    const auto table = full_table();
    const auto with_uuid = [&](std::uint8_t major, std::uint8_t minor, std::uint8_t first) {
        auto t = table;
        // The system structure follows the BIOS one; its UUID starts at 0x08.
        const std::size_t sys = structures_of({bios_structure()}).size();
        for (std::size_t i = 0; i < 16; ++i) t.at(sys + 8 + i) = static_cast<std::uint8_t>(first + i);
        return *board_digest(parse(raw_table(major, minor, t)));
    };
    EXPECT_EQ(with_uuid(2, 0, 0x00), with_uuid(2, 0, 0x40));
    EXPECT_NE(with_uuid(2, 1, 0x00), with_uuid(2, 1, 0x40));
}

TEST(HwidIdentifier, HalvesTextFormAndWhenItCounts) {
    hwid_sources nothing;
    nothing.smbios.status = smbios_status::not_enough_memory;
    auto s = compute_hwid(nothing);
    EXPECT_FALSE(s.computed);
    EXPECT_FALSE(s.smbios_read);
    EXPECT_EQ(text_form(s.value), std::string(64, '0'));

    hwid_sources disk_only = nothing;
    disk_only.disk = {"WD-WCAV12345678", "", "", ""};
    s = compute_hwid(disk_only);
    EXPECT_TRUE(s.computed);
    EXPECT_EQ(text_form(s.value), "3D43054FE7AE28203C21233029CCF68A" + std::string(32, '0'));
    EXPECT_EQ(s.value_digest, root::md5::of(s.value));

    hwid_sources board_only;
    board_only.smbios = parse(raw_table(2, 4, full_table()));
    s = compute_hwid(board_only);
    EXPECT_TRUE(s.computed);
    EXPECT_TRUE(s.smbios_read);
    EXPECT_EQ(s.bios_release_date, 1300147200);
    const auto text = text_form(s.value);
    EXPECT_EQ(text.substr(0, 32), std::string(32, '0'));
    EXPECT_EQ(text.substr(32), hex_of(*board_digest(board_only.smbios)));
    EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos);
}

TEST(HwidCache, ComputesAgainUntilSomethingWasFoundThenKeepsIt) {
    int gathered = 0;
    hwid_cache cache([&] {
        hwid_sources s;
        if (++gathered >= 2) s.disk[1] = "WD-WCAV12345678";
        return s;
    });
    EXPECT_EQ(text_form(cache.get()), std::string(64, '0'));
    const auto found = cache.get();
    EXPECT_EQ(gathered, 2);
    EXPECT_EQ(cache.get(), found);
    EXPECT_EQ(cache.state().value_digest, root::md5::of(found));
    EXPECT_EQ(gathered, 2);
}

TEST(HwidCache, ConcurrentCallersGatherOnce) {
    std::atomic<int> gathered = 0;
    hwid_cache cache([&] {
        ++gathered;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        hwid_sources s;
        s.disk[0] = "WD-WCAV12345678";
        return s;
    });
    std::vector<std::thread> threads;
    std::vector<identifier> results(8);
    for (std::size_t i = 0; i < results.size(); ++i) threads.emplace_back([&, i] { results[i] = cache.get(); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(gathered.load(), 1);
    for (const auto& r : results) EXPECT_EQ(r, results[0]);
}
