// wWinMain: opens the log, checks the system, runs the driver and turns its
// result or failure into the process exit code.
#include <windows.h>

#include "environment/os_info.hpp"
#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "log/file_sink.hpp"
#include "log/logger.hpp"
#include "repository/conditions/brand.hpp"
#include "repository/conditions/host_facts.hpp"
#include "veltro_sfx/outcome.hpp"
#include "veltro_sfx/process_entry.hpp"
#include "veltro_sfx_lib/network/sfx_proxy_parser.hpp"
#include "veltro_sfx_lib/reporting/sfx_reporting.hpp"
#include "veltro_sfx_lib/run/sfx_exceptions.hpp"
#include "veltro_sfx_lib/run/sfx_process.hpp"
#include "veltro_sfx_lib/run/sfx_process_win.hpp"
#include "win/file_system.hpp"
#include "win/process_info.hpp"
#include "win/security_descriptor.hpp"
#include "win/version_resource.hpp"

namespace {

using namespace qzr;
using namespace qzr::sfx;

// 4 MiB; test builds may make it smaller to see the log rotate.
#ifdef QZR_LOG_ROTATION_SIZE
constexpr std::uint64_t log_rotation_size = QZR_LOG_ROTATION_SIZE;
#else
constexpr std::uint64_t log_rotation_size = 0x400000;
#endif
constexpr unsigned log_flush_level = log::level_error;
constexpr std::uint32_t high_integrity = 0x3000;

std::wstring fresh_client_id() { return uuid::to_wstring(uuid::random_uuid()); }

std::wstring log_folder() {
    const std::wstring brand_folder =
        repository::conditions::brand_folder_name(repository::conditions::brand_of_module(nullptr));
    return path::join(path::join(path::join(win::common_app_data(), brand_folder), L"Veltro"), L"Logs");
}

std::wstring version_text() {
    const auto v = win::file_version(nullptr);
    if (!v) return L"0.0.0.0";
    return text::format(L"%hu.%hu.%hu.%hu", (*v)[0], (*v)[1], (*v)[2], (*v)[3]);
}

// Never fails outward: a box that cannot be built is simply not shown.
void show_failure_box(const failure_outcome& outcome, const std::wstring& log_path) noexcept {
    try {
        if (outcome.box == failure_outcome::box_kind::none) return;
        const command_line cmd(::GetCommandLineW(), true);
        if (boxes_suppressed(cmd)) return;
        const std::int32_t language = choose_language(cmd, ::GetUserDefaultUILanguage());
        const auto translator = sfx_translator::factory().create(language);
        const box_text text = compose_failure_box(*translator, outcome, log_path);
        ::MessageBoxW(nullptr, text.body.c_str(), text.caption.c_str(), MB_ICONERROR | MB_SETFOREGROUND);
    } catch (...) {
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR command_line_argument, int) {
    std::shared_ptr<sfx_reporting_intf> reporting;
    std::wstring log_path;
    try {
        std::shared_ptr<sfx_proxy_parser_intf> proxy;
        try {
            proxy = sfx_proxy_parser::factory().create(command_line_argument ? command_line_argument : L"");
        } catch (const std::exception&) {
            QZR_LOG_WARNING(L"Process proxy settings fail.");
        }
        reporting = sfx_reporting::factory().create(proxy);

        command_line cmd(::GetCommandLineW(), true);
        const std::wstring client_id = select_client_id(cmd, &fresh_client_id);

        reporting->set_cmdline(cmd.rebuild(true));
        reporting->set_session_id(client_id);
        std::wstring launched;
        try {
            launched = win::launched_by();
        } catch (const std::exception& e) {
            launched = text::format(L"Get parent failed - %s.", e.what());
        }
        reporting->set_trigger(launched);

        if (const auto main_product = win::version_string(nullptr, L"MainProductId");
            main_product && !main_product->empty())
            reporting->add_main_product(*main_product, L"", false);

        const std::wstring folder = log_folder();
        // Folders made here get the protected list (users may read); the
        // sink refuses a folder or file that is a link, and the run then goes
        // on without a log file.
        if (!win::is_directory(folder))
            win::create_directories(folder, win::security_descriptor(win::protected_folder_sddl).get());
        log_path = folder + L"\\sfx.log";
        log::add_file_sink(log_path, log_rotation_size, 0);
        if (auto* lg = log::logger()) lg->set_flush_level(log_flush_level);

        QZR_LOG_INFO(L"*** Starting SFX (%s), System(%s) ***", version_text(), environment::system_description());
        QZR_LOG_INFO(L"    launched by:'%s'", launched);
        reporting->send("sfx-start");

        const auto& os = environment::os_info();
        if (!environment::is_supported(os)) {
            QZR_LOG_ERROR(L"This operating system (%d.%d.%d) is not supported.", os.major, os.minor, os.build);
            throw sfx::exceptions::unsupported_os();
        }
        const std::uint32_t integrity = win::integrity_level();
        if (integrity < high_integrity) {
            QZR_LOG_ERROR(L"Insufficient integrity level (%d)", integrity);
            throw sfx::exceptions::insufficient_integrity_level();
        }

        auto process = default_sfx_process_factory().create(reporting, proxy, client_id);
        const std::uint32_t result = process->run(program_path(), cmd.rebuild(false));
        process.reset();
        QZR_LOG_INFO(L"*** Ending SFX (%d, %x) ***", result, result);
        return static_cast<int>(result);
    } catch (...) {
        const failure_outcome outcome = classify_failure(std::current_exception());
        if (outcome.log == failure_outcome::log_kind::error_object) {
            try {
                throw;
            } catch (const std::exception& e) {
                QZR_LOG_EXCEPTION(e);
            } catch (...) {
            }
        } else if (outcome.log == failure_outcome::log_kind::generic) {
            QZR_LOG_ERROR("SFX catch generic exception: %s", outcome.log_text);
        }
        show_failure_box(outcome, log_path);
        if (reporting) {
            try {
                reporting->set_ret_code(static_cast<std::int32_t>(outcome.exit_code));
                reporting->send("sfx-fail");
            } catch (...) {
            }
        }
        QZR_LOG_INFO(L"*** Ending SFX after exception (%d, %x) ***", outcome.exit_code, outcome.exit_code);
        return outcome.exit_code;
    }
}
