// What a signed parent program (the microstub) hands over through the
// folder named by edat_dir, and the EDAT files the payload carries.
#pragma once

#include <memory>
#include <string>

#include "veltro_sfx_lib/run/sfx_data_holder.hpp"
#include "veltro_sfx_lib/signature/verify_signature_intf.hpp"

namespace qzr::sfx {

class microstub_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<microstub_intf> create(const sfx_data_holder& context) const = 0;
    };
    virtual ~microstub_intf() = default;
    // Whether the parent process's image verifies under any known key.
    virtual bool verify() = 0;
    // The cookie file's text, empty when there is none or the parent is not trusted.
    virtual std::wstring get_cookie() = 0;
    // The parent's *.edat files into the temporary folder.
    virtual void copy_edat_files() = 0;
};

class microstub final : public microstub_intf, public sfx_data_holder {
public:
    struct factory : microstub_intf::factory {
        explicit factory(std::shared_ptr<const verify_signature_intf::factory> verifier) : verifier_(std::move(verifier)) {}
        std::shared_ptr<microstub_intf> create(const sfx_data_holder& context) const override {
            return std::make_shared<microstub>(context, verifier_);
        }

    private:
        std::shared_ptr<const verify_signature_intf::factory> verifier_;
    };

    microstub(const sfx_data_holder& context, std::shared_ptr<const verify_signature_intf::factory> verifier)
        : sfx_data_holder(context), verifier_(std::move(verifier)) {}

    bool verify() override;
    std::wstring get_cookie() override;
    void copy_edat_files() override;

private:
    std::shared_ptr<const verify_signature_intf::factory> verifier_;
    bool verified_ = false;
    std::shared_ptr<void> image_lock_;  // the parent's image, held while it is trusted
};

class sfx_edat_intf {
public:
    virtual void unpack() = 0;
    virtual ~sfx_edat_intf() = default;
};

// Payload entries whose alias contains ".edat", into the temporary folder
// (sub-folders of the alias created); an alias that would leave the folder
// is refused.
class sfx_edat final : public sfx_edat_intf, public sfx_data_holder {
public:
    explicit sfx_edat(const sfx_data_holder& context) : sfx_data_holder(context) {}
    void unpack() override;
};

}  // namespace qzr::sfx
