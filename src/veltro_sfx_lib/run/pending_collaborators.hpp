// Collaborators of the run whose real implementations have not landed yet.
// Each does nothing observable: reporting sends nothing.
// Replace each one as its component arrives.
#pragma once

#include "veltro_sfx_lib/network/sfx_proxy_parser_intf.hpp"
#include "veltro_sfx_lib/reporting/sfx_reporting_intf.hpp"

namespace qzr::sfx::pending {

struct reporting_factory final : sfx_reporting_intf::factory {
    std::shared_ptr<sfx_reporting_intf> create(const std::shared_ptr<sfx_proxy_parser_intf>& proxy) const override;
};

}  // namespace qzr::sfx::pending
