// A reporting object that records nothing; tests override what they watch.
#pragma once

#include <string>

#include "veltro_sfx_lib/reporting/sfx_reporting_intf.hpp"

namespace qzr::test {

struct silent_reporting : sfx::sfx_reporting_intf {
    void send(const std::string&) override {}
    void set_temp_path(const std::wstring&) override {}
    void set_edition(bool) override {}
    void set_aiid(const std::wstring&) override {}
    void set_session_id(const std::wstring&) override {}
    void set_title(const std::wstring&) override {}
    void set_reboot(bool) override {}
    void set_ret_code(std::int32_t) override {}
    void add_main_product(const std::wstring&, const std::wstring&, bool) override {}
    void set_report_url(const std::wstring&) override {}
    void set_operation(const std::string&) override {}
    void set_trigger(const std::wstring&) override {}
    void set_cmdline(const std::wstring&) override {}
};

}  // namespace qzr::test
