// Starting the setup master with the stub's own rights and the one handle
// it needs, and waiting for the product's bug-report tool after failures.
#pragma once

#include <chrono>

#include "veltro_sfx_lib/launch/secure_process_launcher_intf.hpp"
#include "veltro_sfx_lib/payload/payload_intf.hpp"
#include "veltro_sfx_lib/run/sfx_data_holder.hpp"
#include "veltro_sfx_lib/setup/placed_files.hpp"
#include "win/process_wrapper.hpp"

namespace qzr::sfx {

class secure_process_launcher final : public secure_process_launcher_intf, public systools::process_wrapper_intf::factory {
public:
    struct factory : secure_process_launcher_intf::factory {
        std::shared_ptr<secure_process_launcher_intf> create(const sfx_data_holder& context) const override {
            auto launcher = std::make_shared<secure_process_launcher>();
            launcher->placed_ = context.placed;
            launcher->payload_ = context.payload;
            return launcher;
        }
    };

    static constexpr std::chrono::milliseconds bug_report_limit{30000};
    static constexpr std::chrono::milliseconds bug_report_poll{1000};

    explicit secure_process_launcher(std::chrono::milliseconds limit = bug_report_limit,
                                     std::chrono::milliseconds poll = bug_report_poll)
        : limit_(limit), poll_(poll) {}

    std::uint32_t run_process(const std::wstring& program, const std::wstring& arguments,
                              std::uint32_t timeout_ms) override;
    void wait_for_bug_report(const std::wstring& folder) override;

    // The lower-cased end of the image path a bug-report tool started from
    // folder has: the folder without its drive or share, then the tool's name.
    static std::wstring bug_report_pattern(const std::wstring& folder);

private:
    std::chrono::milliseconds limit_;
    std::chrono::milliseconds poll_;
    // Let go once the program has started.
    std::shared_ptr<placed_files> placed_;
    // Its executable's handle is the one handle the program inherits.
    std::shared_ptr<payload_intf> payload_;
};

}  // namespace qzr::sfx
