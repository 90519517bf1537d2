// Fixed-size unsigned integers and Montgomery arithmetic, as much as DSA
// verification needs: numbers of up to 2048 bits, odd moduli, modular
// multiplication and exponentiation. Values are public (signatures, keys),
// so nothing here needs to run in constant time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qzr::root {

// 64-bit limbs where the compiler has a 128-bit product, else 32-bit ones,
// as in the shipped 32-bit stub. QZR_BIGNUM_LIMB32 forces the 32-bit limbs
// in a 64-bit build, so that the host's tests compute as that stub does.
#if defined(__SIZEOF_INT128__) && !defined(QZR_BIGNUM_LIMB32)
using limb = std::uint64_t;
using double_limb = unsigned __int128;
#else
using limb = std::uint32_t;
using double_limb = std::uint64_t;
#endif

inline constexpr std::size_t limb_bits = sizeof(limb) * 8;
inline constexpr std::size_t max_bits = 2048;
inline constexpr std::size_t max_limbs = max_bits / limb_bits;

// Little-endian limbs; only the first `size` limbs are meaningful.
struct bignum {
    std::array<limb, max_limbs> v{};
    std::size_t size = 0;

    // From big-endian bytes; false when the value needs more than max_bits.
    static bool from_bytes(std::span<const std::uint8_t> big_endian, bignum& out, std::size_t limbs);
    void to_bytes(std::span<std::uint8_t> big_endian) const;

    bool is_zero() const noexcept;
    int compare(const bignum& other) const noexcept;  // -1, 0, 1 over `size` limbs of both
    bool bit(std::size_t index) const noexcept { return (v[index / limb_bits] >> (index % limb_bits)) & 1; }
    std::size_t bit_length() const noexcept;
};

// Montgomery arithmetic modulo an odd number m of `size` limbs, R = 2^(limb
// bits * size).
class montgomery {
public:
    explicit montgomery(const bignum& modulus);

    const bignum& modulus() const noexcept { return m_; }
    std::size_t size() const noexcept { return m_.size; }

    // a * b * R^-1 mod m, for a, b < m.
    void multiply(const bignum& a, const bignum& b, bignum& out) const noexcept;
    bignum to_form(const bignum& a) const noexcept;    // a * R mod m (a < m)
    bignum from_form(const bignum& a) const noexcept;  // a * R^-1 mod m
    bignum one() const noexcept { return r_mod_m_; }   // R mod m: 1 in Montgomery form

    // base^e mod m with base and result in Montgomery form.
    bignum power(const bignum& base_form, const bignum& exponent) const noexcept;
    // b1^e1 * b2^e2 mod m (Montgomery form in and out), one pass of squarings.
    bignum power2(const bignum& b1, const bignum& e1, const bignum& b2, const bignum& e2) const noexcept;

    // Fixed-base comb for exponents below 2^(4 * comb_span): entry j is
    // base^(sum of 2^(comb_span * k) over the set bits k of j). Built once for
    // a base that is used again and again (a domain's generator, a key).
    static constexpr std::size_t comb_span = 64;
    struct comb_table {
        bignum entry[16];
    };
    comb_table make_comb(const bignum& base_form) const noexcept;
    // t1^e1 * t2^e2 with both exponents below 2^256: 64 squarings in all.
    bignum comb_power2(const comb_table& t1, const bignum& e1, const comb_table& t2, const bignum& e2) const noexcept;

private:
    bignum m_;
    limb m0_inv_ = 0;  // -m^-1 mod 2^limb_bits
    bignum r_mod_m_;
    bignum r2_mod_m_;
};

// x mod m for any x (bit by bit; for occasional use on short moduli).
bignum reduce(const bignum& x, const bignum& m);

}  // namespace qzr::root
