#include "veltro_sfx_lib/setup/prepare_setup.hpp"

#include "framework/errors.hpp"
#include "log/logger.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"

namespace qzr::sfx {

void prepare_setup::prepare(std::wstring& master, const show_splash_callback&, const progress_callback&) {
    info_parser info(context_, verifier_);
    info.load();

    const command_line& cmd = *context_.command;
    context_.params->set(keys::base_url, cmd.find(L"base-url").value_or(info.base_url()));
    if (info.silent()) context_.params->set_bool(keys::silent, true);
    if (info.nosplash()) context_.params->set_bool(keys::nosplash, true);
    if (info.clear() || cmd.has(L"clear")) context_.params->set_bool(keys::clear, true);

    if (info.products().empty()) throw qzr::exceptions::error("The sfx-info.xml does not contain any product data!");
    QZR_LOG_WARNING(L"Placing the files of product '%s' is not available in this build; no setup master is named.",
                    info.products().front().name);
    master.clear();
}

}  // namespace qzr::sfx
