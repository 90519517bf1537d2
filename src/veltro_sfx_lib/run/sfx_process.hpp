// The run driver: one run of the stub from its own signature check to the
// setup master's exit code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "veltro_sfx_lib/description/veltro_info.hpp"
#include "veltro_sfx_lib/launch/secure_process_launcher_intf.hpp"
#include "veltro_sfx_lib/network/sfx_proxy_parser_intf.hpp"
#include "veltro_sfx_lib/payload/payload_intf.hpp"
#include "veltro_sfx_lib/payload/temp_dir_intf.hpp"
#include "veltro_sfx_lib/reporting/sfx_reporting_intf.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/sfx_data_holder.hpp"
#include "veltro_sfx_lib/run/sfx_migrate_cmd_params.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"
#include "veltro_sfx_lib/setup/prepare_setup_intf.hpp"
#include "veltro_sfx_lib/signature/verify_signature_intf.hpp"
#include "splash/gif_wnd_intf.hpp"
#include "veltro_sfx_lib/ui/sfx_translator.hpp"

namespace qzr::sfx {

class sfx_process_intf {
public:
    virtual std::uint32_t run(const std::wstring& program_path, const std::wstring& arguments) = 0;
    virtual ~sfx_process_intf() = default;
};

// What the driver needs of the machine it runs on.
class sfx_process_host_intf {
public:
    virtual ~sfx_process_host_intf() = default;
    virtual std::int32_t user_default_ui_language() const = 0;
    virtual std::uint32_t current_process_id() const = 0;
    // WOW64 file-system redirection off until the returned guard goes.
    virtual std::shared_ptr<void> disable_fs_redirection() const = 0;
    // Splash text colour: the COLOR resource when it is 4 bytes, else 0xFEFEFE.
    virtual std::uint32_t splash_colour() const = 0;
};

// One factory per collaborator the driver creates.
struct sfx_collaborators {
    std::shared_ptr<const verify_signature_intf::factory> signature;
    std::shared_ptr<const temp_dir_intf::factory> temp_dir;
    std::shared_ptr<const value_holder::factory> values;
    std::shared_ptr<const payload_intf::factory> payload;
    std::shared_ptr<const features::splash::gif_wnd_intf::factory> splash;
    std::shared_ptr<const features::splash::gif_wnd_data_intf::factory> splash_data;
    std::shared_ptr<const prepare_setup_intf::factory> prepare;
    std::shared_ptr<const secure_process_launcher_intf::factory> launcher;
    std::shared_ptr<const veltro_info_intf::factory> info;
    std::shared_ptr<const sfx_migrate_cmd_params::factory> migrate;
    std::shared_ptr<const sfx_translator::factory> translator;
    std::shared_ptr<const sfx_process_host_intf> host;
};

// Exit codes after which the bug-report tool may still be writing.
bool waits_for_bug_report(std::uint32_t exit_code) noexcept;

// The language of the run: lang-id, else language, when it names a known
// language (else 1033); without either switch the user's UI language.
std::int32_t choose_language(const command_line& cmd, std::int32_t user_default);

class sfx_process final : public sfx_process_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<sfx_process_intf> create(const std::shared_ptr<sfx_reporting_intf>& reporting,
                                                         const std::shared_ptr<sfx_proxy_parser_intf>& proxy,
                                                         const std::wstring& client_id) const = 0;
    };

    sfx_process(sfx_collaborators collaborators, std::shared_ptr<sfx_reporting_intf> reporting,
                std::shared_ptr<sfx_proxy_parser_intf> proxy, const std::wstring& client_id);

    std::uint32_t run(const std::wstring& program_path, const std::wstring& arguments) override;

    const std::shared_ptr<value_holder_intf>& params() const noexcept { return params_; }

private:
    bool image_signed(payload_intf& payload) const;
    void show_splash(const std::wstring& title);
    void report_progress(std::uint8_t percent);
    std::uint32_t launch_setup_master(const std::wstring& master, const std::wstring& converted,
                                      const std::wstring& tmp, const sfx_data_holder& context);

    sfx_collaborators f_;
    std::shared_ptr<sfx_reporting_intf> reporting_;
    std::shared_ptr<sfx_proxy_parser_intf> proxy_;
    std::shared_ptr<value_holder_intf> params_;
    std::shared_ptr<payload_intf> payload_;
    std::shared_ptr<veltro_info_intf> info_;
    std::shared_ptr<command_line> stub_cmd_ = std::make_shared<command_line>();

    std::wstring title_;
    std::shared_ptr<sfx_translator_intf> splash_translator_;
    std::shared_ptr<features::splash::gif_wnd_data_intf> splash_data_;
    std::shared_ptr<features::splash::gif_wnd_intf> splash_;
};

}  // namespace qzr::sfx
