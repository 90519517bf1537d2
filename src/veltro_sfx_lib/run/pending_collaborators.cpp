#include "veltro_sfx_lib/run/pending_collaborators.hpp"

#include "framework/errors.hpp"
#include "log/logger.hpp"

namespace qzr::sfx::pending {

namespace {

class launcher final : public secure_process_launcher_intf {
public:
    std::uint32_t run_process(const std::wstring& program, const std::wstring&, std::uint32_t) override {
        throw qzr::exceptions::error(2, L"Setup master '%s' cannot be started by this build.", program);
    }
    void wait_for_bug_report(const std::wstring&) override {}
};

class splash final : public splash_window_intf {
public:
    void start(int) override {}
    void stop() override {}
    void set_text(const std::wstring&) override {}
    void set_progress(int) override {}
    void prevent_pinning() override {}
};

class reporting final : public sfx_reporting_intf {
public:
    void set_cmdline(const std::wstring&) override {}
    void set_session_id(const std::wstring&) override {}
    void set_trigger(const std::wstring&) override {}
    void add_main_product(const std::wstring&, const std::wstring&, bool) override {}
    void set_temp_path(const std::wstring&) override {}
    void set_edition(bool) override {}
    void set_reboot(bool) override {}
    void set_ret_code(std::uint32_t) override {}
    void send(const std::wstring&) override {}
};

class proxy_parser final : public sfx_proxy_parser_intf {
public:
    bool has_settings() const override { return false; }
    void write(const std::wstring&) const override {}
};

}  // namespace

std::shared_ptr<secure_process_launcher_intf> launcher_factory::create(const sfx_data_holder&) const {
    return std::make_shared<launcher>();
}

std::shared_ptr<splash_window_intf> splash_factory::create(const std::wstring&, std::uint32_t) const {
    return std::make_shared<splash>();
}

std::shared_ptr<sfx_reporting_intf> reporting_factory::create(const std::shared_ptr<sfx_proxy_parser_intf>&) const {
    return std::make_shared<reporting>();
}

std::shared_ptr<sfx_proxy_parser_intf> proxy_parser_factory::create(const std::wstring&) const {
    return std::make_shared<proxy_parser>();
}

}  // namespace qzr::sfx::pending
