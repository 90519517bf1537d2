#include "development_keys.hpp"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace qzr::pack {

namespace {

struct development_key {
    const char* name;
    const char* public_pem;
};

// Written when the build is configured, from keys/dev/k*.pem.
constexpr development_key development_keys[] = {
#include "development_keys.inc"
    {nullptr, nullptr},
};

struct key_free {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct bio_free {
    void operator()(BIO* b) const { BIO_free(b); }
};
using key_ptr = std::unique_ptr<EVP_PKEY, key_free>;

}  // namespace

std::string development_key_of(const std::string& pem_path) {
    FILE* f = std::fopen(pem_path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot open key file " + pem_path);
    const key_ptr key(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr));
    std::fclose(f);
    if (!key) throw std::runtime_error("cannot read private key " + pem_path);
    for (const auto& dev : development_keys) {
        if (!dev.name) break;
        const std::unique_ptr<BIO, bio_free> text(BIO_new_mem_buf(dev.public_pem, -1));
        const key_ptr known(text ? PEM_read_bio_PUBKEY(text.get(), nullptr, nullptr, nullptr) : nullptr);
        if (known && EVP_PKEY_eq(known.get(), key.get()) == 1) return dev.name;
    }
    return "";
}

}  // namespace qzr::pack
