// Conversion of INNO-setup-style switches into the stub's own.
#pragma once

#include <memory>
#include <string>

namespace qzr::sfx {

class sfx_migrate_cmd_params_intf {
public:
    // /VERYSILENT -> /silent, /LANG=L<id> -> /lang-id:<id>, /DIR= -> /install-path:
    virtual std::wstring convert_inno(const std::wstring& text) const = 0;
    // /ga_clientid -> /track-guid
    virtual std::wstring convert_client_id(const std::wstring& text) const = 0;
    virtual ~sfx_migrate_cmd_params_intf() = default;
};

class sfx_migrate_cmd_params final : public sfx_migrate_cmd_params_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<sfx_migrate_cmd_params_intf> create() const {
            return std::make_shared<sfx_migrate_cmd_params>();
        }
    };

    std::wstring convert_inno(const std::wstring& text) const override;
    std::wstring convert_client_id(const std::wstring& text) const override;
};

}  // namespace qzr::sfx
