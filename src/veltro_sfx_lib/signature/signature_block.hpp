// Where a signature sits in a file or document, what it covers, and whether
// it verifies. The binary block ends executables and setup files (before an
// Authenticode certificate table); the text block ends XML documents inside
// a final comment.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "framework/byte_source.hpp"
#include "framework/byte_view.hpp"
#include "framework/sha256.hpp"

namespace qzr::sfx {

namespace signature_format {
inline constexpr std::size_t binary_block_size = 72;  // r, s, marker
inline constexpr std::size_t text_block_size = 144;   // marker, 128 hex digits, marker
inline constexpr std::size_t marker_size = 8;
}  // namespace signature_format

struct pe_facts {
    bool is_pe = false;
    std::uint64_t checksum_offset = 0;  // chk
    std::uint64_t security_entry = 0;   // sec
};
pe_facts detect_pe(byte_source& data) noexcept;
pe_facts detect_pe(byte_view data) noexcept;

struct signature_location {
    int version = 0;  // 2 or 3
    bool text = false;
    std::array<std::uint8_t, 32> r{};
    std::array<std::uint8_t, 32> s{};
    std::uint64_t signed_length = 0;
    pe_facts pe;
};

// The signature block at the end of the data, or nothing when there is none.
// Raises std::invalid_argument("invalid hex_char_value<char>") for a text
// block holding a character that is not a hex digit.
std::optional<signature_location> locate_signature(byte_source& data);
std::optional<signature_location> locate_signature(byte_view data);

// SHA-256 of exactly what the signature covers; nothing for a PE image whose
// signed length ends inside the fields left out of the digest.
std::optional<root::sha256::digest_type> signed_digest(byte_source& data, const signature_location& where);
std::optional<root::sha256::digest_type> signed_digest(byte_view data, const signature_location& where);

// The whole check with the keys of a set; the key number that verified, or 0.
// Raises for an unknown key set and bad hex digits.
int verify_block(byte_source& data, int key_set);
int verify_block(byte_view data, int key_set);

}  // namespace qzr::sfx
