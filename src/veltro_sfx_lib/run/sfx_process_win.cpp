#include "veltro_sfx_lib/run/sfx_process_win.hpp"

#include <windows.h>

#include <cstring>

#include "veltro_sfx_lib/launch/secure_process_launcher.hpp"
#include "veltro_sfx_lib/network/sfx_downloader.hpp"
#include "veltro_sfx_lib/payload/payload.hpp"
#include "veltro_sfx_lib/payload/temp_dir.hpp"
#include "veltro_sfx_lib/signature/verify_signature.hpp"
#include "veltro_sfx_lib/setup/prepare_setup.hpp"
#include "veltro_sfx_lib/ui/confirm_dlg.hpp"
#include "splash/gif_wnd.hpp"
#include "splash/res_gif_wnd_data.hpp"
#include "win/process_info.hpp"

namespace qzr::sfx {

namespace {
constexpr std::uint32_t default_splash_colour = 0xFEFEFE;
constexpr int splash_colour_resource = 400;
}  // namespace

std::int32_t sfx_process_host::user_default_ui_language() const { return ::GetUserDefaultUILanguage(); }

std::uint32_t sfx_process_host::current_process_id() const { return ::GetCurrentProcessId(); }

std::shared_ptr<void> sfx_process_host::disable_fs_redirection() const {
    return std::make_shared<win::fs_redirection_auto>();
}

std::uint32_t sfx_process_host::splash_colour() const {
    const HRSRC res = ::FindResourceW(nullptr, MAKEINTRESOURCEW(splash_colour_resource), L"COLOR");
    if (!res || ::SizeofResource(nullptr, res) != 4) return default_splash_colour;
    const HGLOBAL loaded = ::LoadResource(nullptr, res);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data) return default_splash_colour;
    std::uint32_t colour;
    std::memcpy(&colour, data, sizeof colour);
    return colour;
}

sfx_collaborators default_collaborators() {
    sfx_collaborators c;
    c.signature = std::make_shared<verify_signature::factory>();
    c.temp_dir = std::make_shared<temp_dir::factory>();
    c.values = std::make_shared<value_holder::factory>();
    c.payload = std::make_shared<payload::factory>();
    c.splash = std::make_shared<features::splash::gif_wnd::factory>();
    c.splash_data = std::make_shared<features::splash::res_gif_wnd_data::factory>();
    c.translator = std::make_shared<sfx_translator::factory>();
    const auto product_info = std::make_shared<product_info_parser::factory>(repository::conditions::running_host());
    const auto downloader = std::make_shared<sfx_downloader::factory>(
        sfx_downloader::collaborators{std::make_shared<net::simple_http_wrapper::factory>(), c.signature, product_info});
    c.prepare = std::make_shared<prepare_setup::factory>(
        prepare_setup::collaborators{c.signature, downloader, product_info, std::make_shared<master_setup_evaluator::factory>(),
                                     std::make_shared<microstub::factory>(c.signature),
                                     std::make_shared<confirm_dlg::factory>(c.translator)});
    c.launcher = std::make_shared<secure_process_launcher::factory>();
    c.info = std::make_shared<veltro_info::factory>();
    c.migrate = std::make_shared<sfx_migrate_cmd_params::factory>();
    c.host = std::make_shared<sfx_process_host>();
    return c;
}

std::shared_ptr<sfx_process_intf> default_sfx_process_factory::create(
    const std::shared_ptr<sfx_reporting_intf>& reporting, const std::shared_ptr<sfx_proxy_parser_intf>& proxy,
    const std::wstring& client_id) const {
    return std::make_shared<sfx_process>(default_collaborators(), reporting, proxy, client_id);
}

}  // namespace qzr::sfx
