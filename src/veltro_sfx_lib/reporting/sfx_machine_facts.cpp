// The running machine's side of an analytics event.
#include <windows.h>

#include "environment/os_info.hpp"
#include "framework/errors.hpp"
#include "framework/text_format.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "hwid/hwid_win.hpp"
#include "veltro_sfx_lib/reporting/sfx_reporting.hpp"
#include "win/process_info.hpp"
#include "win/version_resource.hpp"

#ifndef QZR_REPORT_HOST
#define QZR_REPORT_HOST "127.0.0.1"
#endif

namespace qzr::sfx {

namespace {

constexpr std::uint64_t mib = 1024 * 1024;

std::int64_t now_ms() {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    constexpr std::uint64_t unix_epoch_ticks = 116444736000000000ULL;  // 1970-01-01 in 100 ns since 1601
    return static_cast<std::int64_t>((ticks - unix_epoch_ticks) / 10000);
}

// MiB free to this user on the volume of the temporary folder's folder: the
// path up to its last separator; a path without one asks the current folder.
std::uint64_t available_mib(const std::wstring& temp_path) {
    const std::size_t last = temp_path.find_last_of(L"\\/");
    const std::wstring folder = last == std::wstring::npos ? std::wstring() : temp_path.substr(0, last + 1);
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(folder.empty() ? nullptr : folder.c_str(), &available, nullptr, nullptr))
        throw exceptions::error(static_cast<std::int32_t>(::GetLastError()), "get_available_disk_space");
    return available.QuadPart / mib;
}

}  // namespace

std::wstring default_report_url() { return L"https://" + utf::from_utf8(QZR_REPORT_HOST) + L"/v4/receive/json/25"; }

sfx_event_state::machine sfx_machine_facts::gather(const std::wstring& temp_path) const {
    sfx_event_state::machine m;
    m.now_ms = &now_ms;
    m.request_id = uuid::to_string(uuid::random_uuid());
    if (const auto v = win::file_version(nullptr))
        m.sfx_version = text::format("%hu.%hu.%hu.%hu", (*v)[0], (*v)[1], (*v)[2], (*v)[3]);
    m.product_version = utf::to_utf8(win::version_string(nullptr, L"ProductVersion").value_or(L""));

    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    m.memory_mib = ::GlobalMemoryStatusEx(&memory) ? memory.ullTotalPhys / mib : 0;
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    m.processors = system.dwNumberOfProcessors;

    const auto& os = environment::os_info();
    m.workstation = os.product_type == environment::workstation;
    std::string architecture = utf::to_utf8(environment::platform_name(os.native_platform));
    for (char& c : architecture)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    m.architecture = architecture;
    m.major = os.major;
    m.minor = os.minor;
    m.build = os.build;

    if (!temp_path.empty()) m.available_mib = available_mib(temp_path);
    m.hwid = utf::to_utf8(hwid::hardware_identifier_text());
    m.ui_language = static_cast<std::int32_t>(::GetUserDefaultUILanguage());
    TIME_ZONE_INFORMATION zone{};
    ::GetTimeZoneInformation(&zone);
    m.time_zone_bias = static_cast<std::int32_t>(zone.Bias);
    return m;
}

}  // namespace qzr::sfx
