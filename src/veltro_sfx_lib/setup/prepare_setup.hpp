// Setup preparation: turns the descriptions into a ready product folder and
// names the setup master. This build reads and applies sfx-info.xml; placing
// the product's files follows with the downloader and the launcher.
#pragma once

#include "veltro_sfx_lib/description/sfx_info_parser.hpp"
#include "veltro_sfx_lib/setup/prepare_setup_intf.hpp"

namespace qzr::sfx {

class prepare_setup final : public prepare_setup_intf {
public:
    struct factory : prepare_setup_intf::factory {
        explicit factory(std::shared_ptr<const verify_signature_intf::factory> verifier)
            : verifier_(std::move(verifier)) {}
        std::shared_ptr<prepare_setup_intf> create(const sfx_data_holder& context) const override {
            return std::make_shared<prepare_setup>(context, verifier_);
        }

    private:
        std::shared_ptr<const verify_signature_intf::factory> verifier_;
    };

    prepare_setup(const sfx_data_holder& context, std::shared_ptr<const verify_signature_intf::factory> verifier)
        : context_(context), verifier_(std::move(verifier)) {}

    void prepare(std::wstring& master_command_line, const show_splash_callback& show_splash,
                 const progress_callback& progress) override;

private:
    sfx_data_holder context_;
    std::shared_ptr<const verify_signature_intf::factory> verifier_;
};

}  // namespace qzr::sfx
