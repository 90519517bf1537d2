// Filling the operating-system record from the running system.
#include <windows.h>

#include <atomic>
#include <mutex>

#include "environment/os_info.hpp"
#include "win/system_error.hpp"

namespace qzr::environment {

namespace {

using rtl_get_version_fn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
using is_wow64_process2_fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
using get_product_info_fn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);

HMODULE loaded_module(const wchar_t* name) {
    HMODULE m = ::GetModuleHandleW(name);
    if (!m) win::raise_last_error(L"GetModuleHandleW (%s)", name);
    return m;
}

template <class F>
F proc(HMODULE m, const char* name, bool required) {
    auto p = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(m, name)));
    if (!p && required) win::raise_last_error(L"GetProcAddress (%s)", name);
    return p;
}

bool running_under_wow64() noexcept {
#if defined(_M_IX86) || defined(__i386__)
    // The TEB's WOW64 reserved pointer (offset 0xC0 of a 32-bit TEB) is set
    // only for 32-bit threads of a 64-bit system.
    unsigned long wow32_reserved = 0;
    __asm__("movl %%fs:0xC0, %0" : "=r"(wow32_reserved));
    return wow32_reserved != 0;
#else
    return false;
#endif
}

os_record fill() {
    os_record os;
    OSVERSIONINFOEXW vi{};
    vi.dwOSVersionInfoSize = sizeof vi;
    const HMODULE ntdll = loaded_module(L"ntdll");
    proc<rtl_get_version_fn>(ntdll, "RtlGetVersion", true)(&vi);
    os.major = vi.dwMajorVersion;
    os.minor = vi.dwMinorVersion;
    os.build = vi.dwBuildNumber;
    os.platform_id = vi.dwPlatformId;
    os.service_pack.assign(vi.szCSDVersion, wcsnlen(vi.szCSDVersion, 128));
    os.sp_major = vi.wServicePackMajor;
    os.sp_minor = vi.wServicePackMinor;
    os.suite_mask = vi.wSuiteMask;
    os.product_type = vi.wProductType;

    const HMODULE kernel32 = loaded_module(L"kernel32");
    if (auto iwp2 = proc<is_wow64_process2_fn>(kernel32, "IsWow64Process2", false)) {
        USHORT process_machine = 0, native_machine = 0;
        if (!iwp2(::GetCurrentProcess(), &process_machine, &native_machine))
            win::raise_last_error(L"Unable to determine native architecture of the system!");
        os.native_platform = platform_from_machine(native_machine);
    } else {
        os.native_platform = running_under_wow64() ? platform::x64 : platform::x86;
#if defined(__x86_64__)
        os.native_platform = platform::x64;
#endif
    }

    os.licensing_product_type = 0;
    if (os.major >= 6) {
        DWORD type = 0;
        if (proc<get_product_info_fn>(kernel32, "GetProductInfo", true)(os.major, os.minor, 0, 0, &type))
            os.licensing_product_type = type;
    }
    return os;
}

std::mutex g_fill_lock;
std::atomic<const os_record*> g_record{nullptr};

}  // namespace

const os_record& os_info() {
    if (const os_record* r = g_record.load(std::memory_order_acquire)) return *r;
    std::lock_guard<std::mutex> guard(g_fill_lock);
    if (const os_record* r = g_record.load(std::memory_order_acquire)) return *r;
    // Lives until the process ends; readers after the first never lock.
    static const os_record record = fill();
    g_record.store(&record, std::memory_order_release);
    return record;
}

std::wstring system_description() {
    return describe(os_info(), [] { return ::GetSystemMetrics(SM_SERVERR2) != 0; });
}

}  // namespace qzr::environment
