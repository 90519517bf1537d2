// The run's proxy settings: the proxy_ini file named on the command line,
// read once at start-up; a file that asks for the user's system settings is
// resolved at once. A missing or unreadable file means no settings, and every
// HTTP client keeps the access type it was created with.
#pragma once

#include <optional>
#include <utility>

#include "veltro_sfx_lib/network/sfx_proxy_parser_intf.hpp"

namespace qzr::sfx {

class sfx_proxy_parser final : public sfx_proxy_parser_intf {
public:
    struct factory : sfx_proxy_parser_intf::factory {
        std::shared_ptr<sfx_proxy_parser_intf> create(const std::wstring& command_line) const override;
    };

    explicit sfx_proxy_parser(std::optional<http::ProxySettings> settings) : settings_(std::move(settings)) {}

    bool has_settings() const override;
    const http::ProxySettings& settings() const override;

private:
    std::optional<http::ProxySettings> settings_;
};

}  // namespace qzr::sfx
