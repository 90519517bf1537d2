// Telling the analytics endpoint how a run goes: one JSON event per stage,
// POSTed with the stub's HTTP client (through the user's proxy when
// proxy.ini gave one). Reporting never fails the run: whatever goes wrong
// while an event is built or sent is logged and swallowed.
#pragma once

#include <memory>
#include <string>

#include "net/simple_http_wrapper.hpp"
#include "veltro_sfx_lib/network/sfx_proxy_parser_intf.hpp"
#include "veltro_sfx_lib/reporting/sfx_event.hpp"
#include "veltro_sfx_lib/reporting/sfx_reporting_intf.hpp"

namespace qzr::sfx {

// The machine's side of an event, asked for each one. May raise (a failed
// disk query): that event is then not sent.
class sfx_machine_facts_intf {
public:
    virtual ~sfx_machine_facts_intf() = default;
    virtual sfx_event_state::machine gather(const std::wstring& temp_path) const = 0;
};

// The running machine's facts.
class sfx_machine_facts final : public sfx_machine_facts_intf {
public:
    sfx_event_state::machine gather(const std::wstring& temp_path) const override;
};

// Where events go unless sfx-info or the command line says otherwise: the
// analytics host is a setting of the build.
std::wstring default_report_url();

class sfx_reporting final : public sfx_reporting_intf {
public:
    struct collaborators {
        std::shared_ptr<const net::simple_http_wrapper::factory> http;
        std::shared_ptr<const sfx_machine_facts_intf> facts;
        std::wstring default_url;
    };

    struct factory final : sfx_reporting_intf::factory {
        std::shared_ptr<sfx_reporting_intf> create(const std::shared_ptr<sfx_proxy_parser_intf>& proxy) const override;
    };

    sfx_reporting(std::shared_ptr<sfx_proxy_parser_intf> proxy, collaborators c);

    void send(const std::string& stage) override;
    void set_temp_path(const std::wstring& path) override { state_.set_temp_path(path); }
    void set_edition(bool offline) override { state_.set_edition(offline); }
    void set_aiid(const std::wstring& aiid) override { state_.set_aiid(aiid); }
    void set_session_id(const std::wstring& id) override { state_.set_session_id(id); }
    void set_title(const std::wstring& title) override { state_.set_title(title); }
    void set_reboot(bool reboot) override { state_.set_reboot(reboot); }
    void set_ret_code(std::int32_t code) override { state_.set_ret_code(code); }
    void add_main_product(const std::wstring& product, const std::wstring& channel, bool reset) override {
        state_.add_main_product(product, channel, reset);
    }
    void set_report_url(const std::wstring& url) override { report_url_ = url; }
    void set_operation(const std::string& operation) override { state_.set_operation(operation); }
    void set_trigger(const std::wstring& launched_by) override { state_.set_trigger(launched_by); }
    void set_cmdline(const std::wstring& command_line) override { state_.set_cmdline(command_line); }

private:
    std::shared_ptr<sfx_proxy_parser_intf> proxy_;
    collaborators c_;
    sfx_event_state state_;
    std::wstring report_url_;
};

}  // namespace qzr::sfx
