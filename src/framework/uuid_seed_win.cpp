// Seed of the process-wide UUID generator on Windows: SHA-256 over cheap,
// varying machine facts and 8 bytes of the system's cryptographic source.
// A source that fails is skipped.
#include <windows.h>
#include <wincrypt.h>
#include <x86intrin.h>

#include "framework/sha256.hpp"
#include "framework/uuid.hpp"

namespace qzr::uuid {

std::uint64_t timestamp_counter() noexcept { return __rdtsc(); }

random_generator::seed_type gather_seed() {
    root::sha256 h;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    h.update(&now, sizeof now);
    const DWORD pid = GetCurrentProcessId();
    const DWORD tid = GetCurrentThreadId();
    h.update(&pid, sizeof pid);
    h.update(&tid, sizeof tid);
    MEMORYSTATUSEX mem{};
    mem.dwLength = sizeof mem;
    if (GlobalMemoryStatusEx(&mem)) {
        h.update(&mem.ullAvailPhys, sizeof mem.ullAvailPhys);
        h.update(&mem.ullAvailVirtual, sizeof mem.ullAvailVirtual);
    }
    ULARGE_INTEGER free_bytes{};
    if (GetDiskFreeSpaceExW(nullptr, &free_bytes, nullptr, nullptr)) h.update(&free_bytes, sizeof free_bytes);
    FILETIME idle, kernel, user;
    if (GetSystemTimes(&idle, &kernel, &user)) {
        h.update(&idle, sizeof idle);
        h.update(&kernel, sizeof kernel);
        h.update(&user, sizeof user);
    }
    LARGE_INTEGER perf;
    if (QueryPerformanceCounter(&perf)) h.update(&perf, sizeof perf);
    const std::uint64_t tsc = __rdtsc();
    h.update(&tsc, sizeof tsc);
    HCRYPTPROV prov = 0;
    if (CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
        BYTE random[8];
        if (CryptGenRandom(prov, sizeof random, random)) h.update(random, sizeof random);
        CryptReleaseContext(prov, 0);
    }
    return h.finish();
}

}  // namespace qzr::uuid
