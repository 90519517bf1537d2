#include "veltro_sfx_lib/setup/preparation_rules.hpp"

#include <algorithm>

#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "veltro_sfx_lib/payload/payload_intf.hpp"
#include "veltro_sfx_lib/reporting/sfx_reporting_intf.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"

namespace qzr::sfx {

std::uint8_t weighted_progress(double base, double share, std::uint64_t done, std::uint64_t length) noexcept {
    double value = base;
    if (length > 0) value += static_cast<double>(done) / static_cast<double>(length) * share;
    if (!(value >= 0.0)) value = 0.0;  // also NaN
    return static_cast<std::uint8_t>(std::min(value, 100.0));
}

bool is_safe_relative_name(const std::wstring& name) noexcept {
    if (name.empty() || path::is_separator(name.front()) || name.find(L':') != std::wstring::npos) return false;
    std::size_t from = 0;
    for (;;) {
        const std::size_t to = name.find_first_of(L"\\/", from);
        const std::wstring_view segment = std::wstring_view(name).substr(from, to == std::wstring::npos ? to : to - from);
        if (segment == L"..") return false;
        if (to == std::wstring::npos) return true;
        from = to + 1;
    }
}

bool splash_wanted(const command_line& cmd, const value_holder_intf& params) {
    const auto silent = cmd.find(L"silent");
    const bool silent_allows = !silent || utf::ifind(*silent, L"splash") != std::wstring::npos ||
                               utf::ifind(*silent, L"stub_loading") != std::wstring::npos;
    return silent_allows && !cmd.has(L"verysilent") && !cmd.has(L"nosplash") &&
           !params.get_bool(keys::silent, false) && !params.get_bool(keys::nosplash, false);
}

void report_products(sfx_reporting_intf& reporting, const std::vector<info_parser_intf::product>& products) {
    for (std::size_t i = 0; i < products.size(); ++i)
        reporting.add_main_product(products[i].name, products[i].channel, i == 0);
}

std::shared_ptr<unpacker_intf> find_setup_file(payload_intf& payload, const std::wstring& sha256,
                                               const std::wstring& name) {
    auto entry = payload.find_by_sha(sha256);
    return entry ? entry : payload.find_by_alias(name);
}

}  // namespace qzr::sfx
