#include "signature_writer.hpp"

#include <stdexcept>

#include "framework/hex.hpp"
#include "veltro_sfx_lib/signature/signature_block.hpp"

namespace qzr::pack {

namespace {

std::array<std::uint8_t, 32> digest_of(const std::uint8_t* data, std::size_t size, int version) {
    if (version != 2 && version != 3) throw std::invalid_argument("signature version must be 2 or 3");
    sfx::signature_location where;
    where.version = version;
    where.signed_length = size;
    where.pe = sfx::detect_pe(byte_view(data, size));
    const auto digest = sfx::signed_digest(byte_view(data, size), where);
    if (!digest) throw std::runtime_error("the image is too short to be signed");
    return *digest;
}

}  // namespace

void append_binary_signature(std::vector<std::uint8_t>& data, int version, const digest_signer& sign, bool pad_to_8) {
    const auto [r, s] = sign(digest_of(data.data(), data.size(), version));
    data.insert(data.end(), r.begin(), r.end());
    data.insert(data.end(), s.begin(), s.end());
    const std::string marker = "QZRSig" + std::to_string(version) + "B";
    data.insert(data.end(), marker.begin(), marker.end());
    if (pad_to_8)
        while (data.size() % 8) data.push_back(0);
}

void append_text_signature(std::string& document, int version, const digest_signer& sign,
                           const std::string& line_end) {
    document += "<!-- ";
    const auto [r, s] =
        sign(digest_of(reinterpret_cast<const std::uint8_t*>(document.data()), document.size(), version));
    const std::string marker = "QZRSig" + std::to_string(version) + "A";
    document += marker + hex::encode(r) + hex::encode(s) + marker + " -->" + line_end;
}

}  // namespace qzr::pack
