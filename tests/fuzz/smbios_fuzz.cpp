// Fuzz driver for the SMBIOS table reader: any bytes the firmware provider
// could hand over must parse without a read outside them and without an
// exception escaping (the reader raises nothing on bad tables).
// The input is the raw provider data: the 8-byte header, then the table
// (seeds: make_smbios_seeds.py).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "hwid/hwid.hpp"
#include "hwid/smbios.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const qzr::byte_view raw(data, size);
    const auto record = qzr::hwid::read_smbios(raw);
    qzr::hwid::board_digest(record);

    // Every string of every structure, by every number a byte can hold.
    const qzr::hwid::smbios_table table(raw);
    for (const auto& s : table.structures()) {
        for (unsigned n = 0; n < 256; ++n) (void)s.string(static_cast<std::uint8_t>(n));
        for (std::size_t offset = 0; offset <= s.length(); ++offset) (void)s.string_at(offset);
    }

    // The same bytes as a storage descriptor and as identify data.
    qzr::hwid::storage_property_serial(raw, true);
    qzr::hwid::identify_serial(raw);
    return 0;
}
