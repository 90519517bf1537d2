#include "openssl_signer.hpp"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace qzr::pack {

namespace {

struct bn_free {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct ctx_free {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
struct key_free {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using bn_ptr = std::unique_ptr<BIGNUM, bn_free>;

std::string openssl_error() {
    char buf[256];
    ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
    return buf;
}

bn_ptr param(EVP_PKEY* key, const char* name) {
    BIGNUM* value = nullptr;
    if (!EVP_PKEY_get_bn_param(key, name, &value)) throw std::runtime_error(std::string("DSA key has no ") + name);
    return bn_ptr(value);
}

bn_ptr bn_new() {
    BIGNUM* b = BN_new();
    if (!b) throw std::bad_alloc();
    return bn_ptr(b);
}

using block = std::array<std::uint8_t, 32>;

block hmac(const block& key, std::initializer_list<std::pair<const std::uint8_t*, std::size_t>> parts) {
    std::vector<std::uint8_t> message;
    for (auto [p, n] : parts) message.insert(message.end(), p, p + n);
    block out{};
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), message.data(), message.size(), out.data(),
              &length) ||
        length != out.size())
        throw std::runtime_error("HMAC-SHA256 failed");
    return out;
}

block to_block(const BIGNUM* v) {
    block out{};
    if (BN_bn2binpad(v, out.data(), 32) != 32) throw std::runtime_error("value wider than 256 bits");
    return out;
}

struct dsa_key_values {
    bn_ptr p, q, g, x;
};

// Signs with the nonce of RFC 6979 (HMAC-SHA256), so the same key and digest
// always give the same signature and packed files are reproducible.
signature_pair sign_deterministic(const dsa_key_values& key, const block& digest) {
    std::unique_ptr<BN_CTX, ctx_free> ctx(BN_CTX_new());
    const BIGNUM* q = key.q.get();
    if (BN_num_bits(q) != 256) throw std::runtime_error("DSA key is not 2048/256");
    const block x = to_block(key.x.get());
    bn_ptr h = bn_new();
    BN_bin2bn(digest.data(), 32, h.get());
    bn_ptr h_mod_q = bn_new();
    BN_nnmod(h_mod_q.get(), h.get(), q, ctx.get());
    const block h1 = to_block(h_mod_q.get());

    block v, k;
    v.fill(0x01);
    k.fill(0x00);
    const std::uint8_t zero = 0, one = 1;
    k = hmac(k, {{v.data(), 32}, {&zero, 1}, {x.data(), 32}, {h1.data(), 32}});
    v = hmac(k, {{v.data(), 32}});
    k = hmac(k, {{v.data(), 32}, {&one, 1}, {x.data(), 32}, {h1.data(), 32}});
    v = hmac(k, {{v.data(), 32}});

    bn_ptr nonce = bn_new(), r = bn_new(), s = bn_new(), t = bn_new(), inverse = bn_new();
    for (;;) {
        v = hmac(k, {{v.data(), 32}});
        BN_bin2bn(v.data(), 32, nonce.get());
        if (!BN_is_zero(nonce.get()) && BN_cmp(nonce.get(), q) < 0) {
            // r = (g^k mod p) mod q;  s = k^-1 (h + x r) mod q
            BN_mod_exp(t.get(), key.g.get(), nonce.get(), key.p.get(), ctx.get());
            BN_nnmod(r.get(), t.get(), q, ctx.get());
            BN_mod_mul(t.get(), key.x.get(), r.get(), q, ctx.get());
            BN_mod_add(t.get(), t.get(), h_mod_q.get(), q, ctx.get());
            BN_mod_inverse(inverse.get(), nonce.get(), q, ctx.get());
            BN_mod_mul(s.get(), inverse.get(), t.get(), q, ctx.get());
            if (!BN_is_zero(r.get()) && !BN_is_zero(s.get())) break;
        }
        k = hmac(k, {{v.data(), 32}, {&zero, 1}});
        v = hmac(k, {{v.data(), 32}});
    }
    return {to_block(r.get()), to_block(s.get())};
}

}  // namespace

digest_signer openssl_signer(const std::string& pem_path) {
    FILE* f = std::fopen(pem_path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot open key file " + pem_path);
    std::unique_ptr<EVP_PKEY, key_free> pkey(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr));
    std::fclose(f);
    if (!pkey) throw std::runtime_error("cannot read private key " + pem_path + ": " + openssl_error());
    if (EVP_PKEY_get_base_id(pkey.get()) != EVP_PKEY_DSA) throw std::runtime_error(pem_path + " is not a DSA key");
    auto key = std::make_shared<dsa_key_values>();
    key->p = param(pkey.get(), OSSL_PKEY_PARAM_FFC_P);
    key->q = param(pkey.get(), OSSL_PKEY_PARAM_FFC_Q);
    key->g = param(pkey.get(), OSSL_PKEY_PARAM_FFC_G);
    key->x = param(pkey.get(), OSSL_PKEY_PARAM_PRIV_KEY);
    return [key](const std::array<std::uint8_t, 32>& digest) { return sign_deterministic(*key, digest); };
}

}  // namespace qzr::pack
