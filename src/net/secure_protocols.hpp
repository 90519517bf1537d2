// Which TLS versions an HTTP session asks for. Older systems enable only
// TLS 1.0 and 1.1 unless told otherwise; servers of today refuse those, and
// every https request would fail over to plain http.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace qzr::net {

inline constexpr std::uint32_t tls12_protocol = 0x800;
inline constexpr std::uint32_t tls13_protocol = 0x2000;

// Asks set_protocols for TLS 1.2 and 1.3, then, when that is refused (a
// system without TLS 1.3), for TLS 1.2 alone. Returns the flags the session
// took, or 0 when it took neither.
template <class Set>
std::uint32_t request_modern_tls(Set&& set_protocols) {
    for (const std::uint32_t flags : {tls12_protocol | tls13_protocol, tls12_protocol})
        if (set_protocols(flags)) return flags;
    return 0;
}

}  // namespace qzr::net
