// sfx-info.xml: what this self-extractor installs, from where, under which
// title, and with which run parameters. Read from the payload, verified, and
// copied into the hand-over document.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "veltro_sfx_lib/run/sfx_data_holder.hpp"
#include "veltro_sfx_lib/signature/verify_signature_intf.hpp"

namespace qzr::sfx {

class info_parser_intf {
public:
    struct product {
        std::wstring name;
        std::wstring channel;
        std::wstring version;
    };
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<info_parser_intf> create(const sfx_data_holder& context) const = 0;
    };

    virtual ~info_parser_intf() = default;
    virtual void load() = 0;
    virtual const std::vector<product>& products() const = 0;
    virtual std::wstring base_url() const = 0;
    // The title for exactly that language, else the US English one, else "".
    virtual std::wstring title(std::int32_t language) const = 0;
    virtual bool silent() const = 0;
    virtual bool nosplash() const = 0;
    virtual bool clear() const = 0;
    virtual std::wstring report_url() const = 0;
};

class info_parser final : public info_parser_intf {
public:
    static const std::wstring alias;

    info_parser(const sfx_data_holder& context, std::shared_ptr<const verify_signature_intf::factory> verifier);

    void load() override;
    const std::vector<product>& products() const override { return products_; }
    std::wstring base_url() const override { return base_url_; }
    std::wstring title(std::int32_t language) const override;
    bool silent() const override { return silent_; }
    bool nosplash() const override { return nosplash_; }
    bool clear() const override { return clear_; }
    std::wstring report_url() const override { return report_url_; }

private:
    sfx_data_holder context_;
    std::shared_ptr<const verify_signature_intf::factory> verifier_;
    std::map<std::int32_t, std::wstring> titles_;
    std::wstring base_url_, report_url_;
    bool silent_ = false, nosplash_ = false, clear_ = false;
    std::vector<product> products_;
};

}  // namespace qzr::sfx
