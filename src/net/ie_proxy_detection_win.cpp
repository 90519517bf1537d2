#include <windows.h>
#include <winhttp.h>

#include "log/logger.hpp"
#include "net/ie_proxy_detection.hpp"
#include "net/winhttp_api.hpp"
#include "win/handle.hpp"

namespace qzr::http {

namespace {

// Strings of WinHttpGetIEProxyConfigForCurrentUser belong to the caller,
// who frees them with GlobalFree.
struct global_string_traits {
    using value_type = LPWSTR;
    static LPWSTR invalid() noexcept { return nullptr; }
    static bool valid(LPWSTR s) noexcept { return s != nullptr; }
    static void close(LPWSTR s) noexcept { ::GlobalFree(s); }
};
using global_string = win::basic_handle<global_string_traits>;

}  // namespace

bool detect_ie_proxy(ProxySettings& settings) {
    QZR_LOG_DEBUG(L"Detection of IE proxy settings.");
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!net::winhttp().WinHttpGetIEProxyConfigForCurrentUser(&config)) {
        QZR_LOG_ERROR(L"Get IE proxy settings failed with error '%d'.", static_cast<std::int32_t>(::GetLastError()));
        return false;
    }
    const global_string auto_config_url(config.lpszAutoConfigUrl);
    const global_string proxy(config.lpszProxy);
    const global_string bypass(config.lpszProxyBypass);
    return apply_ie_proxy_string(proxy.get(), settings);
}

}  // namespace qzr::http
