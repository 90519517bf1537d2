#include "veltro_sfx_lib/run/sfx_process.hpp"

#include "framework/path.hpp"
#include "framework/text_format.hpp"
#include "log/logger.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"
#include "veltro_sfx_lib/setup/placed_files.hpp"
#include "veltro_sfx_lib/ui/sfx_languages.hpp"

namespace qzr::sfx {

namespace {

constexpr std::int32_t file_not_found_code = 2;

std::optional<std::int32_t> parse_decimal(const std::wstring& text) {
    try {
        return stoi_checked(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

bool waits_for_bug_report(std::uint32_t code) noexcept {
    if (code == 0 || code == 0xFFFFFFFEu || code == 111111u) return false;
    return code == 0xE06D7363u || code < 44000u || code > 45999u;
}

std::int32_t choose_language(const command_line& cmd, std::int32_t user_default) {
    auto value = cmd.find(L"lang-id");
    if (!value) value = cmd.find(L"language");
    if (!value) return user_default;
    const auto id = parse_decimal(*value);
    return id && is_known_language(*id) ? *id : default_language;
}

sfx_process::sfx_process(sfx_collaborators collaborators, std::shared_ptr<sfx_reporting_intf> reporting,
                         std::shared_ptr<sfx_proxy_parser_intf> proxy, const std::wstring& client_id)
    : f_(std::move(collaborators)), reporting_(std::move(reporting)), proxy_(std::move(proxy)) {
    params_ = f_.values->create();
    params_->set(keys::session_id, client_id);
}

std::uint32_t sfx_process::run(const std::wstring& program_path, const std::wstring& arguments) {
    QZR_LOG_INFO(L"SFX started with command line '%s'", arguments);
    params_->set(keys::process_path, program_path);

    // The executable is opened once, denying writers: the signature is
    // checked over that handle's mapping and the payload is read through the
    // same mapping, so a file swapped on disk after the check is never read.
    {
        const auto redirection = f_.host->disable_fs_redirection();
        payload_ = f_.payload->create(program_path);
    }
    if (!image_signed(*payload_)) {
        QZR_LOG_ERROR(L"SFX is not DSA signed!");
        throw exceptions::sfx_invalid_signature();
    }

    info_ = f_.info->create();
    payload_->load(*info_);

    std::wstring converted = arguments;
    try {
        const auto migrate = f_.migrate->create();
        converted = migrate->convert_inno(converted);
        converted = migrate->convert_client_id(converted);
    } catch (const std::exception&) {
        QZR_LOG_WARNING(L"Convert INNO parameters to Veltro fail");
    }

    stub_cmd_->parse(converted, false);
    info_->add_text_element(L"sfx-cmd", stub_cmd_->rebuild(false));
    info_->add_text_element(L"session-id", params_->get(keys::session_id, L""));

    params_->set_int(keys::lang_id, choose_language(*stub_cmd_, f_.host->user_default_ui_language()));

    // Lives until run returns: the folder goes away after the setup master.
    const auto temp = f_.temp_dir->create(!stub_cmd_->has(L"xperf"));
    params_->set(keys::tmp_path, temp->path());
    info_->add_text_element(L"temp-base-dir", temp->path());
    const std::wstring tmp = params_->get(keys::tmp_path, L"");
    reporting_->set_temp_path(tmp);

    // Placed files are held until the setup master runs (the launcher lets
    // them go) and at the latest until run returns, before the temporary
    // folder is removed.
    const auto placed = std::make_shared<placed_files>();
    const struct release_on_exit {
        placed_files& files;
        ~release_on_exit() { files.release_all(); }
    } release{*placed};
    const sfx_data_holder context{params_, stub_cmd_, payload_, info_, reporting_, nullptr, proxy_, placed};
    std::uint32_t result = 0;
    try {
        reporting_->send("sfx-preparing");
        std::wstring master;
        const auto prepare = f_.prepare->create(context);
        prepare->prepare(
            master, [this](const std::wstring& title) { show_splash(title); },
            [this](std::uint8_t percent) { report_progress(percent); });

        const std::wstring info_path = path::join(tmp, L"veltro-info.xml");
        if (!info_->save(info_path)) {
            QZR_LOG_ERROR(L"Save of hand-over file '%s' failed!", info_path);
            throw qzr::exceptions::error(L"Save of hand-over file '%s' failed!", info_path);
        }
        if (splash_) {
            const auto starting = splash_translator_ ? splash_translator_->translate(L"@Sfx_Starting")
                                                     : std::wstring(L"@Sfx_Starting");
            splash_->set_text(title_ + L"... " + starting);
            splash_->set_progress(-1);
        }
        result = launch_setup_master(master, converted, tmp, context);
    } catch (const exceptions::ppi_cancel& e) {
        result = static_cast<std::uint32_t>(e.code());
    }

    if (result == static_cast<std::uint32_t>(exceptions::restart_required_code)) {
        reporting_->set_reboot(true);
        QZR_LOG_INFO(L"Restart is required");
    }
    reporting_->set_ret_code(static_cast<std::int32_t>(result));
    reporting_->send("sfx-finish");
    return result;
}

std::uint32_t sfx_process::launch_setup_master(const std::wstring& master, const std::wstring& converted,
                                               const std::wstring& tmp, const sfx_data_holder& context) {
    try {
        const auto launcher = f_.launcher->create(context);
        command_line m(master, true);
        if (!m.has_program_path())
            throw qzr::exceptions::error(file_not_found_code, L"No setup master to start.");

        m.add_or_replace(L"veltro-info-path", path::join(tmp, L"veltro-info.xml"));
        m.get_or_add(params_->get_bool(keys::clear, false) ? L"clear" : L"install");
        if (!converted.empty()) m.merge(command_line(converted, false));
        if (params_->get_bool(keys::silent, false) && !m.has(L"silent")) m.add_or_replace(L"silent", L"");
        if (splash_) m.add_or_replace(L"sssid", text::decimal(f_.host->current_process_id()));
        if (proxy_ && proxy_->has_settings()) {
            const std::wstring proxy_ini = path::join(tmp, L"proxy.ini");
            if (const std::uint32_t code = proxy_->settings().save(proxy_ini)) {
                QZR_LOG_ERROR(L"Save of proxy settings '%s' failed!", proxy_ini);
                throw qzr::exceptions::error(static_cast<std::int32_t>(code), L"Save of proxy settings '%s' failed!",
                                             proxy_ini);
            }
            m.add_or_replace(L"proxy_ini", proxy_ini);
        }

        reporting_->send("sfx-running-veltro");
        const std::uint32_t code =
            launcher->run_process(m.program_path(), m.rebuild(false), secure_process_launcher_intf::infinite);
        if (splash_) splash_->stop();
        if (waits_for_bug_report(code)) launcher->wait_for_bug_report(path::join(tmp, L"common"));
        return code;
    } catch (const std::exception&) {
        QZR_LOG_ERROR(L"Execute setup master process '%s' failed!", master);
        throw;
    }
}

bool sfx_process::image_signed(payload_intf& payload) const {
    bool is_signed = false;
    try {
        is_signed = f_.signature->create()->dsa_signed_source(payload.image());
    } catch (const std::exception&) {
        // An image that cannot be read is not signed.
    }
    return is_signed;
}

void sfx_process::show_splash(const std::wstring& title) {
    title_ = title;
    splash_translator_ = f_.translator->create(params_->get_int(keys::lang_id, 0));
    const std::wstring caption = splash_translator_->translate(L"@Sfx_Title", {title});
    splash_data_ = f_.splash_data->create(caption, title);
    splash_data_->set_text_colour(f_.host->splash_colour());
    splash_ = f_.splash->create(splash_data_);
    splash_->start(true);
    splash_->prevent_pinning();
}

void sfx_process::report_progress(std::uint8_t percent) {
    if (!splash_) return;
    splash_->set_text(title_ + L"... " + text::decimal(percent) + L"%");
    splash_->set_progress(percent);
}

}  // namespace qzr::sfx
