// DSA signature verification (FIPS 186-4) for L = 2048, N = 256.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "framework/bignum.hpp"

namespace qzr::root {

inline constexpr std::size_t dsa_p_bytes = 256;
inline constexpr std::size_t dsa_q_bytes = 32;

// Domain parameters p, q, g as big-endian bytes; the Montgomery contexts are
// built on first use and kept.
class dsa_domain {
public:
    dsa_domain(std::span<const std::uint8_t> p, std::span<const std::uint8_t> q, std::span<const std::uint8_t> g)
        : p_(p), q_(q), g_(g) {}

    struct prepared {
        montgomery mp;
        montgomery mq;
        bignum g_form;  // g in Montgomery form modulo p
        bignum q;
        montgomery::comb_table g_comb;
    };
    // Null when the parameters are malformed (even modulus, wrong sizes).
    const prepared* get() const;

private:
    std::span<const std::uint8_t> p_, q_, g_;
    mutable std::once_flag once_;
    mutable std::unique_ptr<prepared> prepared_;
};

struct dsa_public_key {
    const dsa_domain* domain;
    std::span<const std::uint8_t> y;  // 256 bytes, big-endian
};

// True when (r, s) is a valid signature of the 32-byte digest under key.
bool dsa_verify(const dsa_public_key& key, std::span<const std::uint8_t, 32> digest,
                std::span<const std::uint8_t, 32> r, std::span<const std::uint8_t, 32> s);

}  // namespace qzr::root
