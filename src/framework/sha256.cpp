#include "framework/sha256.hpp"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace qzr::root {

namespace {

constexpr std::uint32_t k_round[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline std::uint32_t rotr(std::uint32_t x, int n) noexcept { return (x >> n) | (x << (32 - n)); }

}  // namespace

sha256::sha256() noexcept
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void sha256::blocks(const std::uint8_t* p, std::size_t count) noexcept {
    static const auto compress = sha256_impl::cpu_has_sha_extensions() ? &sha256_impl::blocks_sha_extensions
                                                                       : &sha256_impl::blocks_portable;
    compress(state_, p, count);
}

void sha256::update(const void* data, std::size_t size) noexcept {
    buffer_.feed(static_cast<const std::uint8_t*>(data), size,
                 [this](const std::uint8_t* p, std::size_t count) { blocks(p, count); });
}

void sha256::update(std::span<const std::uint8_t> data) noexcept { update(data.data(), data.size()); }

sha256::digest_type sha256::finish() noexcept {
    const std::uint64_t bits = buffer_.total() * 8;
    std::uint8_t pad[72] = {0x80};
    const std::size_t used = buffer_.pending();
    update(pad, used < 56 ? 56 - used : 120 - used);
    std::uint8_t len[8];
    for (int i = 0; i < 8; ++i) len[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    update(len, 8);
    digest_type out;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * j));
    return out;
}

sha256::digest_type sha256::of(std::span<const std::uint8_t> data) noexcept {
    sha256 h;
    h.update(data);
    return h.finish();
}

namespace sha256_impl {

void blocks_portable(std::uint32_t state[8], const std::uint8_t* p, std::size_t count) noexcept {
    for (; count; --count, p += 64) {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = std::uint32_t{p[4 * i]} << 24 | std::uint32_t{p[4 * i + 1]} << 16 |
                   std::uint32_t{p[4 * i + 2]} << 8 | std::uint32_t{p[4 * i + 3]};
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t s1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
            const std::uint32_t ch = (e & f) ^ (~e & g);
            const std::uint32_t t1 = h + s1 + ch + k_round[i] + w[i];
            const std::uint32_t s0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
            const std::uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
            const std::uint32_t t2 = s0 + maj;
            h = g; g = f; f = e; e = d + t1;
            d = c; c = b; b = a; a = t1 + t2;
        }
        state[0] += a; state[1] += b; state[2] += c; state[3] += d;
        state[4] += e; state[5] += f; state[6] += g; state[7] += h;
    }
}

#if defined(__x86_64__) || defined(__i386__)

bool cpu_has_sha_extensions() noexcept {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return ssse3 && sse41 && (b & (1u << 29));
}

// Four rounds per step: sha256rnds2 does two, on the state held as ABEF and
// CDGH; the message schedule for step g + 4 is made while step g runs.
__attribute__((target("sha,sse4.1,ssse3"))) void blocks_sha_extensions(std::uint32_t state[8], const std::uint8_t* p,
                                                                       std::size_t count) noexcept {
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count; --count, p += 64) {
        const __m128i abef_in = abef, cdgh_in = cdgh;
        __m128i w[4];
        for (int i = 0; i < 4; ++i)
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), byte_swap);
        for (int g = 0; g < 16; ++g) {
            const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k_round + 4 * g));
            const __m128i m = _mm_add_epi32(w[g % 4], k);
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, m);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(m, 0x0E));
            if (g < 12) {
                __m128i t = _mm_sha256msg1_epu32(w[g % 4], w[(g + 1) % 4]);
                t = _mm_add_epi32(t, _mm_alignr_epi8(w[(g + 3) % 4], w[(g + 2) % 4], 4));
                w[g % 4] = _mm_sha256msg2_epu32(t, w[(g + 3) % 4]);
            }
        }
        abef = _mm_add_epi32(abef, abef_in);
        cdgh = _mm_add_epi32(cdgh, cdgh_in);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

#else

bool cpu_has_sha_extensions() noexcept { return false; }
void blocks_sha_extensions(std::uint32_t state[8], const std::uint8_t* p, std::size_t count) noexcept {
    blocks_portable(state, p, count);
}

#endif

}  // namespace sha256_impl

}  // namespace qzr::root
