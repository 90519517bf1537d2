// Seed of the process-wide UUID generator on the host build (tools, tests).
#include <chrono>
#include <random>
#include <thread>
#include <unistd.h>
#include <x86intrin.h>

#include "framework/sha256.hpp"
#include "framework/uuid.hpp"

namespace qzr::uuid {

std::uint64_t timestamp_counter() noexcept { return __rdtsc(); }

random_generator::seed_type gather_seed() {
    root::sha256 h;
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    h.update(&now, sizeof now);
    const auto pid = getpid();
    h.update(&pid, sizeof pid);
    const auto tid = std::hash<std::thread::id>{}(std::this_thread::get_id());
    h.update(&tid, sizeof tid);
    const std::uint64_t tsc = __rdtsc();
    h.update(&tsc, sizeof tsc);
    try {
        std::random_device rd;
        const std::uint32_t r[2] = {rd(), rd()};
        h.update(r, sizeof r);
    } catch (...) {
    }
    return h.finish();
}

}  // namespace qzr::uuid
