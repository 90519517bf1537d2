// Starting a process and waiting for it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace qzr::systools {

class process_wrapper_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::unique_ptr<process_wrapper_intf> create_process_wrapper() const;
    };

    virtual ~process_wrapper_intf() = default;
    // Starts the command line (program first) in a new console (show_window)
    // or hidden, optionally inheriting handles, and waits up to timeout ms:
    // 0 = do not wait (259), INFINITE = without limit. Returns the exit code,
    // 259 while the process still runs.
    virtual std::uint32_t run(const std::wstring& command_line, bool show_window, bool inherit_handles,
                              std::uint32_t timeout) = 0;
};

class process_wrapper final : public process_wrapper_intf {
public:
    std::uint32_t run(const std::wstring& command_line, bool show_window, bool inherit_handles,
                      std::uint32_t timeout) override;
};

}  // namespace qzr::systools
