// The analytics events of a run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qzr::sfx {

class sfx_proxy_parser_intf;

class sfx_reporting_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<sfx_reporting_intf> create(const std::shared_ptr<sfx_proxy_parser_intf>& proxy) const = 0;
    };

    // One event for the stage (UTF-8, "sfx-start", ...); never raises.
    virtual void send(const std::string& stage) = 0;
    virtual void set_temp_path(const std::wstring& path) = 0;
    virtual void set_edition(bool offline) = 0;
    // The analytics installation id: the microstub's or the command line's cookie.
    virtual void set_aiid(const std::wstring& aiid) = 0;
    virtual void set_session_id(const std::wstring& id) = 0;
    virtual void set_title(const std::wstring& title) = 0;
    virtual void set_reboot(bool reboot) = 0;
    // Sent as its signed decimal text.
    virtual void set_ret_code(std::int32_t code) = 0;
    virtual void add_main_product(const std::wstring& product, const std::wstring& channel, bool reset) = 0;
    virtual void set_report_url(const std::wstring& url) = 0;
    virtual void set_operation(const std::string& operation) = 0;
    virtual void set_trigger(const std::wstring& launched_by) = 0;
    virtual void set_cmdline(const std::wstring& command_line) = 0;
    virtual ~sfx_reporting_intf() = default;
};

}  // namespace qzr::sfx
