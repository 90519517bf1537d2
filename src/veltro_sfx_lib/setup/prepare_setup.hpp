// Setup preparation: turns the descriptions into a ready product folder and
// names the setup master.
#pragma once

#include "veltro_sfx_lib/description/product_info_parser.hpp"
#include "veltro_sfx_lib/description/sfx_info_parser.hpp"
#include "veltro_sfx_lib/network/sfx_downloader_intf.hpp"
#include "veltro_sfx_lib/setup/master_setup_evaluator.hpp"
#include "veltro_sfx_lib/setup/microstub.hpp"
#include "veltro_sfx_lib/setup/prepare_setup_intf.hpp"
#include "veltro_sfx_lib/ui/confirm_dlg_intf.hpp"

namespace qzr::sfx {

class prepare_setup final : public prepare_setup_intf {
public:
    struct collaborators {
        std::shared_ptr<const verify_signature_intf::factory> verifier;
        std::shared_ptr<const sfx_downloader_intf::factory> downloader;
        std::shared_ptr<const product_info_parser_intf::factory> product_info;
        std::shared_ptr<const master_setup_evaluator_intf::factory> evaluator;
        std::shared_ptr<const microstub_intf::factory> microstub;
        std::shared_ptr<const confirm_dlg_intf::factory> confirm;
    };

    struct factory : prepare_setup_intf::factory {
        explicit factory(collaborators c) : c_(std::move(c)) {}
        std::shared_ptr<prepare_setup_intf> create(const sfx_data_holder& context) const override {
            return std::make_shared<prepare_setup>(context, c_);
        }

    private:
        collaborators c_;
    };

    prepare_setup(const sfx_data_holder& context, collaborators c) : context_(context), c_(std::move(c)) {}

    void prepare(std::wstring& master_command_line, const show_splash_callback& show_splash,
                 const progress_callback& progress) override;

    std::wstring create_product_temp_folder(const std::wstring& name) const;
    // Places one setup file from the payload, else from the repository.
    void process_setup_file(const product_info_parser_intf::file_info& file, const std::wstring& product,
                            const std::wstring& folder, bool offline,
                            const sfx_downloader_intf::progress_callback& progress);

private:
    void apply_cookie(const std::wstring& cookie);
    std::shared_ptr<product_info_parser_intf> obtain_product_info(const std::wstring& url, const std::wstring& alias,
                                                                  bool offline);

    sfx_data_holder context_;
    collaborators c_;
    std::shared_ptr<sfx_downloader_intf> downloader_;
};

}  // namespace qzr::sfx
