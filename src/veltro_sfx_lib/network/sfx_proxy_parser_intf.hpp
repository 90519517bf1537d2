// Proxy settings from the proxy_ini file named on the command line.
#pragma once

#include <memory>
#include <string>

namespace qzr::sfx {

class sfx_proxy_parser_intf {
public:
    struct factory {
        virtual ~factory() = default;
        // From the entry's command-line argument; may raise.
        virtual std::shared_ptr<sfx_proxy_parser_intf> create(const std::wstring& command_line) const = 0;
    };

    virtual ~sfx_proxy_parser_intf() = default;
    virtual bool has_settings() const = 0;
    // Writes the settings as a proxy.ini for the setup master.
    virtual void write(const std::wstring& path) const = 0;
};

}  // namespace qzr::sfx
