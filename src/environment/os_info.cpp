#include "environment/os_info.hpp"

#include "framework/errors.hpp"

namespace qzr::environment {

std::wstring platform_name(platform p) {
    switch (p) {
        case platform::x86: return L"x86";
        case platform::x64: return L"x64";
        case platform::ia64: return L"ia64";
        case platform::arm: return L"arm";
        case platform::arm64: return L"arm64";
    }
    throw exceptions::error(L"Unable to translate platform name (%d)!", static_cast<std::int32_t>(p));
}

platform platform_from_machine(std::uint16_t machine) {
    switch (machine) {
        case 0x014C: return platform::x86;
        case 0x8664: return platform::x64;
        case 0x0200: return platform::ia64;
        case 0x01C4: return platform::arm;
        case 0xAA64: return platform::arm64;
        default: break;
    }
    throw exceptions::error(L"Unable to convert image machine (%d) to platform enumeration!",
                            static_cast<std::int32_t>(machine));
}

std::wstring describe(const os_record& os, const std::function<bool()>& server_r2) {
    const bool ws = os.product_type == workstation;
    std::wstring name;
    const auto generic = [&] { return text::format(L"Windows %u.%u.%u", os.major, os.minor, os.build); };
    if (os.major == 5) {
        switch (os.minor) {
            case 0: name = L"Windows 2000"; break;
            case 1: name = L"Windows XP"; break;
            case 2:
                if (ws) name = L"Windows XP";
                else if (os.suite_mask & 0x8000) name = L"Windows Home Server";
                else if (server_r2 && server_r2()) name = L"Windows Server 2003 R2";
                else name = L"Windows Server 2003";
                break;
            default: name = generic(); break;
        }
    } else if (os.major == 6) {
        static const wchar_t* const client[] = {L"Windows Vista", L"Windows 7", L"Windows 8", L"Windows 8.1"};
        static const wchar_t* const srv[] = {L"Windows Server 2008", L"Windows Server 2008 R2", L"Windows Server 2012",
                                             L"Windows Server 2012 R2"};
        name = os.minor <= 3 ? std::wstring(ws ? client[os.minor] : srv[os.minor]) : generic();
    } else if (os.major == 10) {
        name = ws ? L"Windows 10" : os.build < 17763 ? L"Windows Server 2016" : L"Windows Server 2019";
        name += text::format(L" (10.0.%u)", os.build);
    } else {
        name = generic();
    }
    if (os.sp_major != 0) name += text::format(L" SP%u", os.sp_major);
    name += L' ';
    name += platform_name(os.native_platform);
    return name;
}

bool is_supported(const os_record& os) noexcept {
    if (os.major > 6) return true;
    if (os.major < 6) return false;
    if (os.minor > 1) return true;
    return os.minor == 1 && os.sp_major >= 1;
}

}  // namespace qzr::environment
