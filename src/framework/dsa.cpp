#include "framework/dsa.hpp"

#include <map>

namespace qzr::root {

namespace {

// Comb tables of public keys, built the first time a key is used: the stub
// checks every file with the same few keys.
const montgomery::comb_table& key_comb(const montgomery& mp, const std::uint8_t* y_id, const bignum& y) {
    static std::mutex lock;
    static std::map<const std::uint8_t*, std::unique_ptr<montgomery::comb_table>> tables;
    std::lock_guard<std::mutex> guard(lock);
    auto& slot = tables[y_id];
    if (!slot) slot = std::make_unique<montgomery::comb_table>(mp.make_comb(mp.to_form(y)));
    return *slot;
}

constexpr std::size_t p_limbs = dsa_p_bytes * 8 / limb_bits;
constexpr std::size_t q_limbs = dsa_q_bytes * 8 / limb_bits;

}  // namespace

const dsa_domain::prepared* dsa_domain::get() const {
    std::call_once(once_, [this] {
        bignum p, q, g;
        if (p_.size() != dsa_p_bytes || q_.size() != dsa_q_bytes || g_.size() != dsa_p_bytes) return;
        if (!bignum::from_bytes(p_, p, p_limbs) || !bignum::from_bytes(q_, q, q_limbs) ||
            !bignum::from_bytes(g_, g, p_limbs))
            return;
        if (!(p.v[0] & 1) || !(q.v[0] & 1) || g.compare(p) >= 0) return;
        montgomery mp(p);
        montgomery mq(q);
        const bignum g_form = mp.to_form(g);
        const auto g_comb = mp.make_comb(g_form);
        prepared_.reset(new prepared{std::move(mp), std::move(mq), g_form, q, g_comb});
    });
    return prepared_.get();
}

bool dsa_verify(const dsa_public_key& key, std::span<const std::uint8_t, 32> digest,
                std::span<const std::uint8_t, 32> r_bytes, std::span<const std::uint8_t, 32> s_bytes) {
    const dsa_domain::prepared* d = key.domain ? key.domain->get() : nullptr;
    if (!d || key.y.size() != dsa_p_bytes) return false;

    bignum r, s, z, y;
    bignum::from_bytes(r_bytes, r, q_limbs);
    bignum::from_bytes(s_bytes, s, q_limbs);
    bignum::from_bytes(digest, z, q_limbs);
    if (!bignum::from_bytes(key.y, y, p_limbs) || y.compare(d->mp.modulus()) >= 0) return false;
    // 0 < r < q and 0 < s < q.
    if (r.is_zero() || s.is_zero() || r.compare(d->q) >= 0 || s.compare(d->q) >= 0) return false;
    // The digest is N = 256 bits wide; it may exceed q once.
    if (z.compare(d->q) >= 0) z = reduce(z, d->q);

    // w = s^-1 = s^(q-2) mod q (q is prime); u1 = z w, u2 = r w (mod q).
    const montgomery& mq = d->mq;
    bignum q_minus_2 = d->q;
    {
        limb borrow = 2;
        for (std::size_t i = 0; i < q_minus_2.size && borrow; ++i) {
            const limb before = q_minus_2.v[i];
            q_minus_2.v[i] -= borrow;
            borrow = before < borrow ? 1 : 0;
        }
    }
    const bignum w_form = mq.power(mq.to_form(s), q_minus_2);
    bignum u1, u2;
    mq.multiply(mq.to_form(z), w_form, u1);
    u1 = mq.from_form(u1);
    mq.multiply(mq.to_form(r), w_form, u2);
    u2 = mq.from_form(u2);

    // v = (g^u1 y^u2 mod p) mod q.
    const montgomery& mp = d->mp;
    const bignum product = mp.from_form(mp.comb_power2(d->g_comb, u1, key_comb(mp, key.y.data(), y), u2));
    const bignum v = reduce(product, d->q);
    return v.compare(r) == 0;
}

}  // namespace qzr::root
