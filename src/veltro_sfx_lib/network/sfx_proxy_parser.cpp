#include "veltro_sfx_lib/network/sfx_proxy_parser.hpp"

#include "log/logger.hpp"
#include "net/ie_proxy_detection.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "win/file_system.hpp"

namespace qzr::sfx {

namespace {

std::optional<http::ProxySettings> read_settings(const std::wstring& text) {
    const auto path = command_line(text, false).find(L"proxy_ini");
    if (!path || path->empty() || !win::exists(*path) || win::is_directory(*path)) return std::nullopt;

    http::ProxySettings loaded;
    if (loaded.load(*path) != 0) return std::nullopt;
    if (loaded.proxy_type != http::proxy_type::preconfig) return loaded;

    // The system's proxy replaces the file's record as a whole: the file's
    // credentials were never meant for it.
    http::ProxySettings detected;
    if (http::detect_ie_proxy(detected)) return detected;
    QZR_LOG_ERROR(L"Detection of IE proxy settings failed, use direct connection.");
    return std::nullopt;
}

void log_settings(const std::optional<http::ProxySettings>& s) {
    QZR_LOG_INFO(L"Loading Proxy settings:");
    if (!s) {
        // Nothing to describe: the clients keep their own access type.
        QZR_LOG_INFO(L"Proxy-Type: '%s'", L"not configured");
        QZR_LOG_INFO(L"Proxy-Authorization: '%s'", http::authorization_log_text(http::proxy_authorization::none));
        QZR_LOG_INFO(L"Proxy-Port: '%u'", 0u);
        QZR_LOG_INFO(L"Proxy-Name: '%s'", L"");
        return;
    }
    QZR_LOG_INFO(L"Proxy-Type: '%s'", http::proxy_type_log_text(s->proxy_type));
    QZR_LOG_INFO(L"Proxy-Authorization: '%s'", http::authorization_log_text(s->authorization));
    QZR_LOG_INFO(L"Proxy-Port: '%u'", static_cast<std::uint32_t>(s->port));
    QZR_LOG_INFO(L"Proxy-Name: '%s'", s->proxy_name);
}

}  // namespace

std::shared_ptr<sfx_proxy_parser_intf> sfx_proxy_parser::factory::create(const std::wstring& command_line) const {
    auto settings = read_settings(command_line);
    log_settings(settings);
    return std::make_shared<sfx_proxy_parser>(std::move(settings));
}

bool sfx_proxy_parser::has_settings() const {
    return settings_ && settings_->proxy_type != http::proxy_type::none;
}

const http::ProxySettings& sfx_proxy_parser::settings() const { return settings_.value(); }

}  // namespace qzr::sfx
