#include <gtest/gtest.h>

#include <random>

#include "framework/bignum.hpp"
#include "framework/dsa.hpp"
#include "framework/errors.hpp"
#include "framework/hex.hpp"
#include "veltro_sfx_lib/signature/dsa_keys.hpp"

using namespace qzr;
using namespace qzr::root;

namespace {

bignum from_u64(std::uint64_t x, std::size_t limbs) {
    std::uint8_t be[8];
    for (int i = 0; i < 8; ++i) be[7 - i] = static_cast<std::uint8_t>(x >> (8 * i));
    bignum b;
    bignum::from_bytes(be, b, limbs);
    return b;
}

std::uint64_t to_u64(const bignum& b) {
    std::uint8_t be[8];
    b.to_bytes(be);
    std::uint64_t x = 0;
    for (auto byte : be) x = x << 8 | byte;
    return x;
}

std::uint64_t mulmod(std::uint64_t a, std::uint64_t b, std::uint64_t m) {
    return static_cast<std::uint64_t>(static_cast<unsigned __int128>(a) * b % m);
}

std::uint64_t powmod(std::uint64_t b, std::uint64_t e, std::uint64_t m) {
    std::uint64_t r = 1 % m;
    for (b %= m; e; e >>= 1, b = mulmod(b, b, m))
        if (e & 1) r = mulmod(r, b, m);
    return r;
}

}  // namespace

TEST(Montgomery, AgreesWithPlainArithmeticOnWordSizedModuli) {
    std::mt19937_64 rng(42);
    const std::size_t limbs = 64 / limb_bits;
    for (int round = 0; round < 200; ++round) {
        const std::uint64_t m = (rng() >> (round % 3)) | 1;  // odd, various sizes
        if (m < 3) continue;
        const montgomery mont(from_u64(m, limbs));
        const std::uint64_t a = rng() % m, b = rng() % m, e1 = rng(), e2 = rng() >> 40;
        bignum prod;
        mont.multiply(mont.to_form(from_u64(a, limbs)), mont.to_form(from_u64(b, limbs)), prod);
        ASSERT_EQ(to_u64(mont.from_form(prod)), mulmod(a, b, m));
        const bignum pa = mont.power(mont.to_form(from_u64(a, limbs)), from_u64(e1, limbs));
        ASSERT_EQ(to_u64(mont.from_form(pa)), powmod(a, e1, m));
        const bignum both = mont.power2(mont.to_form(from_u64(a, limbs)), from_u64(e1, limbs),
                                        mont.to_form(from_u64(b, limbs)), from_u64(e2, limbs));
        ASSERT_EQ(to_u64(mont.from_form(both)), mulmod(powmod(a, e1, m), powmod(b, e2, m), m));
        ASSERT_EQ(to_u64(reduce(from_u64(rng(), limbs), from_u64(m, limbs))) < m, true);
    }
    EXPECT_EQ(to_u64(reduce(from_u64(1000, limbs), from_u64(7, limbs))), 1000u % 7);
}

TEST(Montgomery, DomainParametersBehaveLikeDsaGroups) {
    // For every shipped key: q divides p - 1, g has order q, y lies in the group.
    for (int k = 1; k <= 10; ++k) {
        const auto& key = sfx::keys::key(k);
        const auto* d = key.domain->get();
        ASSERT_NE(d, nullptr) << k;
        EXPECT_EQ(d->mp.modulus().bit_length(), 2048u);
        EXPECT_EQ(d->q.bit_length(), 256u);
        const montgomery& mp = d->mp;
        const bignum g_q = mp.from_form(mp.power(d->g_form, d->q));
        EXPECT_EQ(g_q.bit_length(), 1u) << "g^q mod p is 1";
        bignum y;
        bignum::from_bytes(key.y, y, mp.size());
        const bignum y_q = mp.from_form(mp.power(mp.to_form(y), d->q));
        EXPECT_EQ(y_q.bit_length(), 1u) << "y^q mod p is 1";
    }
}

TEST(Dsa, RejectsOutOfRangeValuesWithoutArithmetic) {
    const auto& key = sfx::keys::key(4);
    std::array<std::uint8_t, 32> digest{}, zero{}, ones{}, q{};
    ones.fill(0xFF);
    key.domain->get()->q.to_bytes(q);
    EXPECT_FALSE(dsa_verify(key, digest, zero, ones));
    EXPECT_FALSE(dsa_verify(key, digest, ones, ones));  // r >= q
    EXPECT_FALSE(dsa_verify(key, digest, q, digest));
    std::array<std::uint8_t, 32> one{};
    one[31] = 1;
    EXPECT_FALSE(dsa_verify(key, digest, one, one));  // in range, but no signature
    // s = q is s = 0 in the arithmetic: w, u1 and u2 become 0 and v becomes
    // 1, so r = 1 would verify any digest under any key.
    EXPECT_FALSE(dsa_verify(key, digest, one, q));
}

TEST(DsaKeySets, OrderAndUnknownSets) {
    EXPECT_EQ(sfx::keys::key_set(7), (std::vector<int>{4, 5}));
    EXPECT_EQ(sfx::keys::key_set(8), (std::vector<int>{1, 2, 3, 6, 7, 8, 4, 5, 10, 9}));
    EXPECT_EQ(sfx::keys::key_set(0), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(sfx::keys::key_set(5), (std::vector<int>{10, 4, 5}));
    for (int bad : {6, 9, -1}) {
        try {
            sfx::keys::key_set(bad);
            ADD_FAILURE() << bad;
        } catch (const qzr::exceptions::error& e) {
            EXPECT_EQ(e.code(), 87);
            EXPECT_STREQ(e.what(), "Unknown DSA key!");
        }
    }
    // K2 and K3 sit on their own domains, the rest share one.
    EXPECT_NE(sfx::keys::key(2).domain, sfx::keys::key(1).domain);
    EXPECT_NE(sfx::keys::key(3).domain, sfx::keys::key(2).domain);
    EXPECT_EQ(sfx::keys::key(10).domain, sfx::keys::key(1).domain);
}

TEST(Montgomery, CombAgreesWithTheLadder) {
    const auto* d = sfx::keys::key(4).domain->get();
    const montgomery& mp = d->mp;
    std::mt19937_64 rng(7);
    bignum y;
    bignum::from_bytes(sfx::keys::key(4).y, y, mp.size());
    const bignum y_form = mp.to_form(y);
    const auto y_comb = mp.make_comb(y_form);
    for (int round = 0; round < 4; ++round) {
        std::array<std::uint8_t, 32> a{}, b{};
        for (auto& x : a) x = static_cast<std::uint8_t>(rng());
        for (auto& x : b) x = static_cast<std::uint8_t>(rng());
        if (round == 0) a.fill(0);
        if (round == 1) b.fill(0xFF);
        bignum e1, e2;
        bignum::from_bytes(a, e1, 256 / limb_bits);
        bignum::from_bytes(b, e2, 256 / limb_bits);
        EXPECT_EQ(mp.comb_power2(d->g_comb, e1, y_comb, e2).compare(mp.power2(d->g_form, e1, y_form, e2)), 0) << round;
    }
}
