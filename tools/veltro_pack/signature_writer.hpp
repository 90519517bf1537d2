// Appending signature blocks: the binary block behind executables and setup
// files, the text block in a closing XML comment.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qzr::pack {

using signature_pair = std::pair<std::array<std::uint8_t, 32>, std::array<std::uint8_t, 32>>;
// Signs a 32-byte SHA-256 digest: (r, s), big-endian, 32 bytes each.
using digest_signer = std::function<signature_pair(const std::array<std::uint8_t, 32>& digest)>;

// Appends r, s and "QZRSig<version>B" to data (the signed length is its
// current size); with pad_to_8, zero bytes follow so that the file length is
// a multiple of 8 (where a certificate table may start).
void append_binary_signature(std::vector<std::uint8_t>& data, int version, const digest_signer& sign,
                             bool pad_to_8);

// Appends "<!-- " + "QZRSig<version>A" + hex(r s) + marker + " -->" and the
// given line end to an XML document's text.
void append_text_signature(std::string& document, int version, const digest_signer& sign,
                           const std::string& line_end = "\n");

}  // namespace qzr::pack
