#include "veltro_sfx_lib/run/pending_collaborators.hpp"

#include "framework/errors.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"
#include "log/logger.hpp"

namespace qzr::sfx::pending {

namespace {

class downloader final : public sfx_downloader_intf {
public:
    std::shared_ptr<product_info_parser_intf> download_product_info(const std::wstring& url) override {
        throw exceptions::download_file_fail(L"Repository downloads are not available in this build (%s).", url);
    }
    void download_product_lzma_file(const std::wstring& sha, const std::wstring&, const std::wstring&) override {
        throw exceptions::download_file_fail(L"Repository downloads are not available in this build (%s).", sha);
    }
    void download_file(const std::wstring& url, const std::wstring&, int, bool, bool) override {
        throw exceptions::download_file_fail(L"Repository downloads are not available in this build (%s).", url);
    }
    void set_progress_callback(progress_callback) override {}
    double average_speed() const override { return 0.0; }
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
    void set_aiid(const std::wstring&) override {}
    void set_title(const std::wstring&) override {}
    void set_report_url(const std::wstring&) override {}
    void set_operation(const std::string&) override {}
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

std::shared_ptr<sfx_downloader_intf> downloader_factory::create(const sfx_data_holder&) const {
    return std::make_shared<downloader>();
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
