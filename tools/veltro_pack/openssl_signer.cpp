#include "openssl_signer.hpp"

#include <openssl/bn.h>
#include <openssl/dsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace qzr::pack {

namespace {

struct key_free {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct ctx_free {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
struct sig_free {
    void operator()(DSA_SIG* s) const { DSA_SIG_free(s); }
};

std::string openssl_error() {
    char buf[256];
    ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
    return buf;
}

}  // namespace

digest_signer openssl_signer(const std::string& pem_path) {
    FILE* f = std::fopen(pem_path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot open key file " + pem_path);
    std::shared_ptr<EVP_PKEY> key(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr), key_free());
    std::fclose(f);
    if (!key) throw std::runtime_error("cannot read private key " + pem_path + ": " + openssl_error());
    if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_DSA) throw std::runtime_error(pem_path + " is not a DSA key");

    return [key, pem_path](const std::array<std::uint8_t, 32>& digest) {
        std::unique_ptr<EVP_PKEY_CTX, ctx_free> ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
        if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0)
            throw std::runtime_error("DSA signing set-up failed: " + openssl_error());
        std::size_t length = 0;
        if (EVP_PKEY_sign(ctx.get(), nullptr, &length, digest.data(), digest.size()) <= 0)
            throw std::runtime_error("DSA signing failed: " + openssl_error());
        std::vector<unsigned char> der(length);
        if (EVP_PKEY_sign(ctx.get(), der.data(), &length, digest.data(), digest.size()) <= 0)
            throw std::runtime_error("DSA signing failed: " + openssl_error());
        const unsigned char* p = der.data();
        std::unique_ptr<DSA_SIG, sig_free> sig(d2i_DSA_SIG(nullptr, &p, static_cast<long>(length)));
        if (!sig) throw std::runtime_error("DSA signature not understood: " + openssl_error());
        const BIGNUM* r = nullptr;
        const BIGNUM* s = nullptr;
        DSA_SIG_get0(sig.get(), &r, &s);
        signature_pair out;
        if (BN_bn2binpad(r, out.first.data(), 32) != 32 || BN_bn2binpad(s, out.second.data(), 32) != 32)
            throw std::runtime_error("DSA signature of " + pem_path + " is not 256-bit");
        return out;
    };
}

}  // namespace qzr::pack
