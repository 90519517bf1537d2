// Random version-4 UUIDs (RFC 4122) and their text form, used for session
// identifiers, temporary folder and file names and event ids.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

namespace qzr::uuid {

struct uuid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
};

// Lays 16 bytes out as a GUID in memory (little-endian Data1..Data3) and sets
// the version nibble to 4 and the variant bits to binary 10.
uuid make_v4(std::span<const std::uint8_t, 16> bytes) noexcept;

// "%08lx-%04hx-%04hx-%02hhx%02hhx-%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx"
std::wstring to_wstring(const uuid& id);
std::string to_string(const uuid& id);

// True for text of the accepted identifier shape: 36 characters with '-' at
// positions 8, 13, 18 and 23.
bool has_uuid_shape(std::wstring_view text) noexcept;

// A 32-byte state stepped with SHA-256; each draw mixes in a fresh counter.
class random_generator {
public:
    using seed_type = std::array<std::uint8_t, 32>;
    using counter_fn = std::uint64_t (*)();

    random_generator(const seed_type& seed, counter_fn counter) noexcept;
    std::uint64_t draw();

private:
    std::mutex lock_;
    seed_type state_;
    counter_fn counter_;
};

// The process-wide generator, seeded on first use from the platform's
// entropy sources.
random_generator& process_generator();
uuid random_uuid();

// Platform part: fills the seed (SHA-256 over the collected sources).
random_generator::seed_type gather_seed();
std::uint64_t timestamp_counter() noexcept;

}  // namespace qzr::uuid
