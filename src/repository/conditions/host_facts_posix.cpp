// The host build runs tools and tests, not installations: there is no
// Windows machine to describe, and conditions that ask for one fail (so the
// element they guard does not apply).
#include "framework/errors.hpp"
#include "repository/conditions/host_facts.hpp"

namespace qzr::repository::conditions {

namespace {

[[noreturn]] void no_windows() { throw exceptions::error("Host facts are known only on Windows."); }

class no_host final : public host_facts_intf {
public:
    const environment::os_record& os() const override { no_windows(); }
    std::optional<brand> stub_brand() const override { no_windows(); }
    std::optional<std::uint32_t> file_attributes(const std::wstring&) const override { no_windows(); }
    bool device_exists(const std::wstring&) const override { no_windows(); }
    std::uint64_t file_size(const std::wstring&) const override { no_windows(); }
};

}  // namespace

std::shared_ptr<const host_facts_intf> running_host() {
    static const auto host = std::make_shared<no_host>();
    return host;
}

}  // namespace qzr::repository::conditions
