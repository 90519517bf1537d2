// The TLS versions an HTTP session asks for, on a recording stand-in for the
// system's option call.
#include <gtest/gtest.h>

#include <vector>

#include "net/secure_protocols.hpp"

using namespace qzr::net;

TEST(SecureProtocols, AskForTls12And13ThenFor12AloneAndNeverForOlderVersions) {
    struct case_ {
        std::vector<bool> answers;  // what the system says to each request, in turn
        std::vector<std::uint32_t> asked;
        std::uint32_t taken;
    };
    const case_ cases[] = {
        {{true}, {0x2800}, 0x2800},                 // a system with TLS 1.3
        {{false, true}, {0x2800, 0x800}, 0x800},    // one without it
        {{false, false}, {0x2800, 0x800}, 0},       // one without TLS 1.2: the caller fails
    };
    for (const auto& c : cases) {
        std::vector<std::uint32_t> asked;
        const std::uint32_t taken = request_modern_tls([&](std::uint32_t flags) {
            asked.push_back(flags);
            return c.answers[asked.size() - 1];
        });
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(taken, c.taken);
    }
}
