#include "veltro_sfx_lib/reporting/sfx_reporting.hpp"

#include <exception>

#include "framework/utf.hpp"
#include "log/logger.hpp"
#include "net/proxy_settings.hpp"

namespace qzr::sfx {

namespace {
// A report must not hold the run up for long on a name that does not resolve.
constexpr std::uint32_t resolve_timeout_ms = 15000;
}  // namespace

std::shared_ptr<sfx_reporting_intf> sfx_reporting::factory::create(
    const std::shared_ptr<sfx_proxy_parser_intf>& proxy) const {
    return std::make_shared<sfx_reporting>(
        proxy, collaborators{std::make_shared<net::simple_http_wrapper::factory>(),
                             std::make_shared<sfx_machine_facts>(), default_report_url()});
}

sfx_reporting::sfx_reporting(std::shared_ptr<sfx_proxy_parser_intf> proxy, collaborators c)
    : proxy_(std::move(proxy)), c_(std::move(c)) {}

void sfx_reporting::send(const std::string& stage) {
    try {
        const auto client = c_.http->create(net::access::no_proxy, resolve_timeout_ms);
        if (proxy_ && proxy_->has_settings()) client->set_proxy_settings(proxy_->settings());
        const std::string document = state_.document(stage, c_.facts->gather(state_.temp_path()));
        QZR_LOG_DEBUG("Sending report data: (%s)", document);
        const net::url target = net::crack(report_url_.empty() ? c_.default_url : report_url_);
        const std::uint32_t status =
            client->post(target, std::vector<std::uint8_t>(document.begin(), document.end()), L"");
        if (status == 200)
            QZR_LOG_DEBUG(L"Sent report, status code:'%d'.", status);
        else
            QZR_LOG_WARNING(L"Sent report, status code:'%d'.", status);
    } catch (const std::exception& e) {
        QZR_LOG_ERROR("Send report fail. %s", log::describe_exception(e));
    }
}

}  // namespace qzr::sfx
