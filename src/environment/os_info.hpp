// The operating-system record: what Windows this is and the native processor
// architecture of the machine (not of the 32-bit process).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qzr::environment {

enum class platform : std::uint32_t { x86 = 1, x64 = 2, ia64 = 3, arm = 4, arm64 = 5 };

enum product_type : std::uint8_t { workstation = 1, domain_controller = 2, server = 3 };

struct os_record {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint32_t platform_id = 0;
    std::wstring service_pack;  // at most 128 characters
    std::uint16_t sp_major = 0;
    std::uint16_t sp_minor = 0;
    std::uint16_t suite_mask = 0;
    std::uint8_t product_type = workstation;
    platform native_platform = platform::x86;
    std::uint32_t licensing_product_type = 0;  // 0 when not asked or not available
};

// "x86", "x64", ...; raises "Unable to translate platform name (%d)!".
std::wstring platform_name(platform p);
// From an image machine value (0x014C ...); raises "Unable to convert image
// machine (%d) to platform enumeration!".
platform platform_from_machine(std::uint16_t machine);

// "Windows 7 SP1 x64", "Windows 10 (10.0.19045) x64", ...
// server_r2 is asked only for 5.2 servers that are not Home Server.
std::wstring describe(const os_record& os, const std::function<bool()>& server_r2 = {});

// True for Windows 7 SP1 and later.
bool is_supported(const os_record& os) noexcept;

// The process-wide record of the running system, filled on first use.
const os_record& os_info();
std::wstring system_description();

}  // namespace qzr::environment
