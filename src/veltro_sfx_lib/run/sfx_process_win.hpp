// The run driver as the stub wires it on Windows.
#pragma once

#include "veltro_sfx_lib/run/sfx_process.hpp"

namespace qzr::sfx {

class sfx_process_host final : public sfx_process_host_intf {
public:
    std::int32_t user_default_ui_language() const override;
    std::uint32_t current_process_id() const override;
    std::shared_ptr<void> disable_fs_redirection() const override;
    std::uint32_t splash_colour() const override;
};

// The collaborators of a real run.
sfx_collaborators default_collaborators();

struct default_sfx_process_factory final : sfx_process::factory {
    std::shared_ptr<sfx_process_intf> create(const std::shared_ptr<sfx_reporting_intf>& reporting,
                                             const std::shared_ptr<sfx_proxy_parser_intf>& proxy,
                                             const std::wstring& client_id) const override;
};

}  // namespace qzr::sfx
