#include "veltro_sfx_lib/run/pending_collaborators.hpp"


namespace qzr::sfx::pending {

namespace {

class reporting final : public sfx_reporting_intf {
public:
    void set_cmdline(const std::wstring&) override {}
    void set_session_id(const std::wstring&) override {}
    void set_trigger(const std::wstring&) override {}
    void add_main_product(const std::wstring&, const std::wstring&, bool) override {}
    void set_temp_path(const std::wstring&) override {}
    void set_edition(bool) override {}
    void set_aiid(const std::wstring&) override {}
    void set_title(const std::wstring&) override {}
    void set_report_url(const std::wstring&) override {}
    void set_operation(const std::string&) override {}
    void set_reboot(bool) override {}
    void set_ret_code(std::uint32_t) override {}
    void send(const std::wstring&) override {}
};

}  // namespace

std::shared_ptr<sfx_reporting_intf> reporting_factory::create(const std::shared_ptr<sfx_proxy_parser_intf>&) const {
    return std::make_shared<reporting>();
}

}  // namespace qzr::sfx::pending
