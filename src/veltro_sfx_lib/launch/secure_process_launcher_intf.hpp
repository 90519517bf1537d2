// Starting the setup master and waiting for it and for the bug-report tool.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qzr::sfx {

struct sfx_data_holder;

class secure_process_launcher_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<secure_process_launcher_intf> create(const sfx_data_holder& context) const = 0;
    };

    static constexpr std::uint32_t infinite = 0xFFFFFFFF;

    virtual ~secure_process_launcher_intf() = default;
    // Runs the program with the argument text and returns its exit code.
    virtual std::uint32_t run_process(const std::wstring& program, const std::wstring& arguments,
                                      std::uint32_t timeout_ms) = 0;
    virtual void wait_for_bug_report(const std::wstring& folder) = 0;
};

}  // namespace qzr::sfx
