// stub-events: writes analytics documents as the stub's own writer makes
// them, one per line, for the receiver's tests and benchmark.
//   stub-events [--sessions N] [--seed S] [--first-day MS] [--days D]
// Sessions follow a fixed mix of outcomes (installed, a download failure, a
// declined dialog, a restart, a bad signature, a setup master's own code),
// systems and languages, drawn from the seed; each session's events are in
// stage order and carry times within its day. Request ids are unique across
// seeds below 65,536.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <string>

#include "stub_events.hpp"

int main(int argc, char** argv) {
    long sessions = 10, seed = 1, days = 1;
    long long first_day = 1796774400000;  // 2026-12-09
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const long long value = std::atoll(argv[i + 1]);
        if (key == "--sessions") sessions = static_cast<long>(value);
        else if (key == "--seed") seed = static_cast<long>(value);
        else if (key == "--first-day") first_day = value;
        else if (key == "--days") days = static_cast<long>(value);
        else { std::cerr << "stub-events: unknown option " << key << "\n"; return 2; }
    }
    if (days < 1 || sessions < 0 || seed < 0 || seed > 65535) { std::cerr << "stub-events: bad numbers\n"; return 2; }
    std::mt19937_64 random(static_cast<std::uint64_t>(seed));
    std::uint64_t event = 0;
    const auto id = [&](std::uint64_t n) {
        char out[40];
        std::snprintf(out, sizeof out, "%08lx-%04lx-4000-8000-%012llx", static_cast<unsigned long>(seed),
                      static_cast<unsigned long>((n >> 48) & 0xffff), static_cast<unsigned long long>(n & 0xffffffffffffULL));
        return std::string(out);
    };
    struct system { std::uint32_t major, minor, build; const char* arch; };
    const system systems[] = {{10, 0, 19045, "AMD64"}, {10, 0, 22631, "AMD64"}, {10, 0, 26100, "ARM64"},
                              {6, 1, 7601, "X86"},     {6, 3, 9600, "AMD64"}};
    const std::int32_t languages[] = {0x0409, 0x0409, 0x0407, 0x040c, 0x0411, 0x0419, 0x0416};
    for (long s = 0; s < sessions; ++s) {
        qzr::test::stub_run run;
        const std::string session = id((std::uint64_t{1} << 47) | static_cast<std::uint64_t>(s));
        run.session.assign(session.begin(), session.end());
        const system& sys = systems[random() % 5];
        run.major = sys.major, run.minor = sys.minor, run.build = sys.build, run.architecture = sys.arch;
        run.language = languages[random() % 7];
        run.sfx_version = random() % 4 ? "1.0.0.1" : "1.0.0.2";
        run.time_ms = first_day + static_cast<long long>(random() % static_cast<std::uint64_t>(days)) * 86400000 +
                      static_cast<long long>(random() % 80000000);
        const unsigned draw = random() % 100;
        const auto put = [&](const char* stage) {
            run.request_id = id(++event);
            std::cout << qzr::test::stub_event(stage, run) << "\n";
            run.time_ms += 1000;
        };
        put("sfx-start");
        if (draw >= 96) {  // the installer's own signature
            run.ret_code = 44024;
            put("sfx-fail");
            continue;
        }
        put("sfx-preparing");
        if (draw < 70 || draw >= 93) {
            put("sfx-running-veltro");
            run.ret_code = draw < 70 ? 0 : draw < 95 ? 44080 : 1603;
            run.reboot = run.ret_code == 44080;
            put("sfx-finish");
        } else if (draw < 83) {
            run.ret_code = 44002;
            put("sfx-fail");
        } else {
            run.ret_code = 1223;
            put("sfx-finish");
        }
    }
    return 0;
}
