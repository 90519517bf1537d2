#include "privacy.hpp"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <stdexcept>

namespace qzr::collect {

std::string keyed_hwid(const std::string& key, const std::string& hwid) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char*>(hwid.data()), hwid.size(), mac, &length))
        throw std::runtime_error("HMAC-SHA256 failed");
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += digits[mac[i] >> 4];
        out += digits[mac[i] & 15];
    }
    return out;
}

void apply(const privacy& p, event_record& r) {
    if (p.drop_cmdline) r.cmdline.reset();
    if (!p.hwid_key.empty()) r.hwid = keyed_hwid(p.hwid_key, r.hwid);
}

}  // namespace qzr::collect
