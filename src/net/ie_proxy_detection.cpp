#include "net/ie_proxy_detection.hpp"

#include "framework/utf.hpp"
#include "log/logger.hpp"

namespace qzr::http {

std::optional<ProxySettings> proxy_from_ie_string(std::wstring_view proxy) {
    std::size_t start = 0;
    while (start <= proxy.size()) {
        std::size_t end = proxy.find(L';', start);
        if (end == std::wstring_view::npos) end = proxy.size();
        std::wstring_view entry = proxy.substr(start, end - start);
        start = end + 1;

        if (const std::size_t eq = entry.find(L'='); eq != std::wstring_view::npos) {
            const std::int32_t type = proxy_type_of_scheme(entry.substr(0, eq));
            if (type != proxy_type::http && type != proxy_type::https) continue;
            entry = entry.substr(eq + 1);
        }
        if (const std::size_t sep = entry.find(L"://"); sep != std::wstring_view::npos) {
            if (proxy_type_of_scheme(entry.substr(0, sep)) != proxy_type::http) continue;
            entry = entry.substr(sep + 3);
        }
        const std::size_t colon = entry.find(L':');
        const std::wstring_view host = entry.substr(0, colon);
        if (host.empty()) continue;

        ProxySettings found;
        found.proxy_type = proxy_type::http;
        found.proxy_name = utf::to_utf8(host);
        if (colon != std::wstring_view::npos) {
            if (const auto port = read_decimal(utf::to_utf8(entry.substr(colon + 1)))) found.port = *port;
        }
        return found;
    }
    return std::nullopt;
}

bool apply_ie_proxy_string(const wchar_t* proxy, ProxySettings& settings) {
    if (!proxy) {
        QZR_LOG_DEBUG(L"IE proxy settings is not set.");
        return false;
    }
    QZR_LOG_INFO(L"The IE proxy settings contains servers: '%s'.", proxy);
    if (!*proxy) {
        QZR_LOG_ERROR(L"No proxy server name is defined.");
        return false;
    }
    const auto found = proxy_from_ie_string(proxy);
    if (!found) return false;
    settings = *found;
    return true;
}

}  // namespace qzr::http
