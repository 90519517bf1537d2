// Proxy settings from the proxy_ini file named on the command line.
#pragma once

#include <memory>
#include <string>

#include "net/proxy_settings.hpp"

namespace qzr::sfx {

class sfx_proxy_parser_intf {
public:
    struct factory {
        virtual ~factory() = default;
        // From the entry's command-line argument; may raise.
        virtual std::shared_ptr<sfx_proxy_parser_intf> create(const std::wstring& command_line) const = 0;
    };

    virtual ~sfx_proxy_parser_intf() = default;
    // Settings are held and name a proxy type other than none.
    virtual bool has_settings() const = 0;
    // The held settings; std::bad_optional_access when none are held.
    virtual const http::ProxySettings& settings() const = 0;
};

}  // namespace qzr::sfx
