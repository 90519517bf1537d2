#include "framework/bignum.hpp"

#include <algorithm>

namespace qzr::root {

namespace {

// a - b over n limbs, returning the borrow.
limb sub_n(limb* r, const limb* a, const limb* b, std::size_t n) noexcept {
    limb borrow = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const limb ai = a[i];
        const limb d = ai - b[i];
        const limb d2 = d - borrow;
        borrow = (ai < b[i]) | (d < borrow);
        r[i] = d2;
    }
    return borrow;
}

// 2a mod m for a < m, by shift and conditional subtraction.
void double_mod(bignum& a, const bignum& m) noexcept {
    limb carry = 0;
    for (std::size_t i = 0; i < m.size; ++i) {
        const limb next = a.v[i] >> (limb_bits - 1);
        a.v[i] = (a.v[i] << 1) | carry;
        carry = next;
    }
    if (carry || a.compare(m) >= 0) sub_n(a.v.data(), a.v.data(), m.v.data(), m.size);
}

}  // namespace

bool bignum::from_bytes(std::span<const std::uint8_t> be, bignum& out, std::size_t limbs) {
    out = bignum{};
    out.size = limbs;
    std::size_t bit = 0;
    for (std::size_t i = be.size(); i-- > 0; bit += 8) {
        if (be[i] == 0) continue;
        if (bit / limb_bits >= limbs) return false;
        out.v[bit / limb_bits] |= static_cast<limb>(be[i]) << (bit % limb_bits);
    }
    return true;
}

void bignum::to_bytes(std::span<std::uint8_t> be) const {
    std::fill(be.begin(), be.end(), 0);
    for (std::size_t i = 0; i < be.size() && i / sizeof(limb) < size; ++i)
        be[be.size() - 1 - i] = static_cast<std::uint8_t>(v[i / sizeof(limb)] >> (8 * (i % sizeof(limb))));
}

bool bignum::is_zero() const noexcept {
    return std::all_of(v.begin(), v.begin() + size, [](limb x) { return x == 0; });
}

int bignum::compare(const bignum& o) const noexcept {
    for (std::size_t i = std::max(size, o.size); i-- > 0;) {
        const limb a = i < size ? v[i] : 0;
        const limb b = i < o.size ? o.v[i] : 0;
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

std::size_t bignum::bit_length() const noexcept {
    for (std::size_t i = size; i-- > 0;)
        if (v[i]) return i * limb_bits + (64 - static_cast<std::size_t>(__builtin_clzll(v[i])));
    return 0;
}

montgomery::montgomery(const bignum& modulus) : m_(modulus) {
    // Newton's iteration for m0^-1 mod 2^w; each step doubles the correct bits.
    limb inv = 1;
    for (int i = 0; i < 7; ++i) inv *= 2 - m_.v[0] * inv;
    m0_inv_ = static_cast<limb>(0 - inv);
    // R mod m and R^2 mod m by doubling from 1.
    bignum x;
    x.size = m_.size;
    x.v[0] = 1;
    const std::size_t r_bits = limb_bits * m_.size;
    for (std::size_t i = 0; i < r_bits; ++i) double_mod(x, m_);
    r_mod_m_ = x;
    for (std::size_t i = 0; i < r_bits; ++i) double_mod(x, m_);
    r2_mod_m_ = x;
}

namespace {

// One Montgomery product (CIOS). N is a compile-time limb count for the sizes
// DSA uses, so the loops unroll; 0 means "n at run time".
template <std::size_t N>
void mont_multiply(const limb* a, const limb* b, const limb* m, limb m0_inv, std::size_t n_runtime,
                   limb* out) noexcept {
    const std::size_t n = N ? N : n_runtime;
    limb t[max_limbs + 2] = {};
    for (std::size_t i = 0; i < n; ++i) {
        limb carry = 0;
        const limb bi = b[i];
        for (std::size_t j = 0; j < n; ++j) {
            const double_limb s = static_cast<double_limb>(a[j]) * bi + t[j] + carry;
            t[j] = static_cast<limb>(s);
            carry = static_cast<limb>(s >> limb_bits);
        }
        double_limb s = static_cast<double_limb>(t[n]) + carry;
        t[n] = static_cast<limb>(s);
        t[n + 1] = static_cast<limb>(s >> limb_bits);

        const limb q = t[0] * m0_inv;
        s = static_cast<double_limb>(q) * m[0] + t[0];
        carry = static_cast<limb>(s >> limb_bits);
        for (std::size_t j = 1; j < n; ++j) {
            s = static_cast<double_limb>(q) * m[j] + t[j] + carry;
            t[j - 1] = static_cast<limb>(s);
            carry = static_cast<limb>(s >> limb_bits);
        }
        s = static_cast<double_limb>(t[n]) + carry;
        t[n - 1] = static_cast<limb>(s);
        t[n] = t[n + 1] + static_cast<limb>(s >> limb_bits);
    }
    limb diff[max_limbs];
    const limb borrow = sub_n(diff, t, m, n);
    // t < 2m: take t - m unless that borrowed past the extra limb.
    const bool use_diff = t[n] != 0 || !borrow;
    std::copy_n(use_diff ? diff : t, n, out);
}

constexpr std::size_t dsa_q_limbs = 256 / limb_bits;

}  // namespace

void montgomery::multiply(const bignum& a, const bignum& b, bignum& out) const noexcept {
    const std::size_t n = m_.size;
    limb result[max_limbs];
    if (n == max_limbs) mont_multiply<max_limbs>(a.v.data(), b.v.data(), m_.v.data(), m0_inv_, n, result);
    else if (n == dsa_q_limbs) mont_multiply<dsa_q_limbs>(a.v.data(), b.v.data(), m_.v.data(), m0_inv_, n, result);
    else mont_multiply<0>(a.v.data(), b.v.data(), m_.v.data(), m0_inv_, n, result);
    out.size = n;
    std::copy_n(result, n, out.v.begin());
}

bignum montgomery::to_form(const bignum& a) const noexcept {
    bignum out;
    multiply(a, r2_mod_m_, out);
    return out;
}

bignum montgomery::from_form(const bignum& a) const noexcept {
    bignum one_plain;
    one_plain.size = m_.size;
    one_plain.v[0] = 1;
    bignum out;
    multiply(a, one_plain, out);
    return out;
}

bignum montgomery::power(const bignum& base, const bignum& e) const noexcept {
    bignum acc = r_mod_m_;
    for (std::size_t i = e.bit_length(); i-- > 0;) {
        multiply(acc, acc, acc);
        if (e.bit(i)) multiply(acc, base, acc);
    }
    return acc;
}

bignum montgomery::power2(const bignum& b1, const bignum& e1, const bignum& b2, const bignum& e2) const noexcept {
    // Shamir's trick with two-bit windows on each exponent: a table of
    // b1^i * b2^j for i, j in 0..3.
    bignum table[16];
    table[0] = r_mod_m_;
    table[1] = b2;
    table[4] = b1;
    multiply(b2, b2, table[2]);
    multiply(table[2], b2, table[3]);
    multiply(b1, b1, table[8]);
    multiply(table[8], b1, table[12]);
    for (int i = 1; i < 4; ++i)
        for (int j = 1; j < 4; ++j) multiply(table[i * 4], table[j], table[i * 4 + j]);

    std::size_t bits = std::max(e1.bit_length(), e2.bit_length());
    bits += bits & 1;
    bignum acc = r_mod_m_;
    bool started = false;
    for (std::size_t i = bits; i >= 2; i -= 2) {
        if (started) {
            multiply(acc, acc, acc);
            multiply(acc, acc, acc);
        }
        const unsigned d1 = (e1.bit(i - 1) << 1) | e1.bit(i - 2);
        const unsigned d2 = (e2.bit(i - 1) << 1) | e2.bit(i - 2);
        if (d1 | d2) {
            if (started) multiply(acc, table[d1 * 4 + d2], acc);
            else acc = table[d1 * 4 + d2];
            started = true;
        }
    }
    return acc;
}

montgomery::comb_table montgomery::make_comb(const bignum& base_form) const noexcept {
    comb_table t;
    bignum powers[4];
    powers[0] = base_form;
    for (int k = 1; k < 4; ++k) {
        powers[k] = powers[k - 1];
        for (std::size_t i = 0; i < comb_span; ++i) multiply(powers[k], powers[k], powers[k]);
    }
    t.entry[0] = r_mod_m_;
    for (unsigned j = 1; j < 16; ++j) {
        const unsigned low = static_cast<unsigned>(__builtin_ctz(j));
        const unsigned rest = j & (j - 1);
        if (rest == 0) t.entry[j] = powers[low];
        else multiply(t.entry[rest], powers[low], t.entry[j]);
    }
    return t;
}

bignum montgomery::comb_power2(const comb_table& t1, const bignum& e1, const comb_table& t2,
                               const bignum& e2) const noexcept {
    const auto digit = [](const bignum& e, std::size_t i) {
        unsigned d = 0;
        for (unsigned k = 0; k < 4; ++k) {
            const std::size_t bit = i + comb_span * k;
            if (bit / limb_bits < e.size && e.bit(bit)) d |= 1u << k;
        }
        return d;
    };
    bignum acc = r_mod_m_;
    bool started = false;
    for (std::size_t i = comb_span; i-- > 0;) {
        if (started) multiply(acc, acc, acc);
        const unsigned d1 = digit(e1, i);
        const unsigned d2 = digit(e2, i);
        if (d1) {
            if (started) multiply(acc, t1.entry[d1], acc);
            else acc = t1.entry[d1];
            started = true;
        }
        if (d2) {
            if (started) multiply(acc, t2.entry[d2], acc);
            else acc = t2.entry[d2];
            started = true;
        }
    }
    return acc;
}

bignum reduce(const bignum& x, const bignum& m) {
    bignum r;
    r.size = m.size;
    for (std::size_t i = x.size * limb_bits; i-- > 0;) {
        double_mod(r, m);
        if (x.bit(i)) {
            // r + 1 with r < m: at most m, so one conditional subtraction.
            for (std::size_t k = 0; k < r.size && ++r.v[k] == 0; ++k) {
            }
            if (r.compare(m) >= 0) sub_n(r.v.data(), r.v.data(), m.v.data(), m.size);
        }
    }
    return r;
}

}  // namespace qzr::root
