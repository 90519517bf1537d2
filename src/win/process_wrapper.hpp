// Starting a process and waiting for it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "win/handle.hpp"

namespace qzr::systools {

// What a start leaves its caller: the ids and the process handle, owned by
// the record, so that the caller may wait on the process after the start
// call has returned. Empty when the start failed.
struct process_record {
    std::uint32_t process_id = 0;
    std::uint32_t thread_id = 0;
    win::handle process;
};

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
                              std::uint32_t timeout, process_record& started) = 0;
    // run, with before_resume called between the creation of the process
    // and its first instruction (it starts suspended), handing the process
    // exactly the inheritable handles listed in inherited (none when it is
    // empty), whatever else of ours is inheritable. When before_resume
    // raises, the process is ended unstarted and the error passes on.
    virtual std::uint32_t run_prepared(const std::wstring& command_line, bool show_window,
                                       const std::vector<HANDLE>& inherited, std::uint32_t timeout,
                                       const std::function<void()>& before_resume, process_record& started) = 0;
    // The same start in current_directory (empty: this process's own). The
    // two start flags are the window and inheritance choices of run; there
    // is no time-out, the call waits for the process to end.
    virtual std::uint32_t run_in_directory(const std::wstring& command_line, const std::wstring& current_directory,
                                           bool show_window, bool inherit_handles, process_record& started) = 0;
    // run without handing any of this process's handles to the child.
    virtual std::uint32_t run_no_inherit(const std::wstring& command_line, bool show_window, std::uint32_t timeout,
                                         process_record& started) = 0;
    // Starts the command line as the user the token belongs to, with that
    // user's environment, on the interactive desktop, inheriting nothing;
    // creation_flags are added to CREATE_UNICODE_ENVIRONMENT. Does not wait.
    virtual void run_as_user(HANDLE token, const std::wstring& command_line, std::uint32_t creation_flags) = 0;
    // Waits up to timeout ms for the process to end and returns its exit
    // code; 995 when cancel (may be null) is signalled first, 1460 on
    // time-out, 6 for a null or invalid process handle, otherwise the
    // Windows error of the failing call. Never raises.
    virtual std::uint32_t wait(HANDLE process, std::uint32_t timeout, HANDLE cancel) = 0;
};

class process_wrapper final : public process_wrapper_intf {
public:
    std::uint32_t run(const std::wstring& command_line, bool show_window, bool inherit_handles,
                      std::uint32_t timeout, process_record& started) override;
    std::uint32_t run_prepared(const std::wstring& command_line, bool show_window, const std::vector<HANDLE>& inherited,
                               std::uint32_t timeout, const std::function<void()>& before_resume,
                               process_record& started) override;
    std::uint32_t run_in_directory(const std::wstring& command_line, const std::wstring& current_directory,
                                   bool show_window, bool inherit_handles, process_record& started) override;
    std::uint32_t run_no_inherit(const std::wstring& command_line, bool show_window, std::uint32_t timeout,
                                 process_record& started) override;
    void run_as_user(HANDLE token, const std::wstring& command_line, std::uint32_t creation_flags) override;
    std::uint32_t wait(HANDLE process, std::uint32_t timeout, HANDLE cancel) override;
};

}  // namespace qzr::systools
