#include "win/process_wrapper.hpp"

#include <vector>

#include "win/system_error.hpp"
#include "win/system_library.hpp"

namespace qzr::systools {

namespace {

// A user's environment block. userenv is loaded from the system folder only
// when a process is started as another user, so the stub, which never does,
// keeps it out of its imports.
class user_environment {
public:
    explicit user_environment(HANDLE token) {
        module_.reset(win::load_system_library(L"userenv.dll"));
        if (!module_) win::raise_last_error(L"Unable to retrieve environment of the user!");
        using create_fn = BOOL(WINAPI*)(void**, HANDLE, BOOL);
        const auto create = reinterpret_cast<create_fn>(
            reinterpret_cast<void*>(::GetProcAddress(module_.get(), "CreateEnvironmentBlock")));
        destroy_ = reinterpret_cast<destroy_fn>(
            reinterpret_cast<void*>(::GetProcAddress(module_.get(), "DestroyEnvironmentBlock")));
        if (!create || !destroy_ || !create(&block_, token, FALSE)) {
            block_ = nullptr;
            win::raise_last_error(L"Unable to retrieve environment of the user!");
        }
    }
    ~user_environment() {
        if (block_) destroy_(block_);
    }
    user_environment(const user_environment&) = delete;
    user_environment& operator=(const user_environment&) = delete;
    void* get() const noexcept { return block_; }

private:
    using destroy_fn = BOOL(WINAPI*)(void*);
    win::module_handle module_;
    destroy_fn destroy_ = nullptr;
    void* block_ = nullptr;
};

// CreateProcessW may write into the command line buffer.
std::vector<wchar_t> writable(const std::wstring& text) {
    std::vector<wchar_t> buffer(text.begin(), text.end());
    buffer.push_back(L'\0');
    return buffer;
}

bool is_valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// The attribute list that limits what a started process inherits to the
// handles named in it.
class inherited_handles {
public:
    explicit inherited_handles(const std::vector<HANDLE>& handles) : handles_(handles) {
        if (handles_.empty()) return;
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (!::InitializeProcThreadAttributeList(list_, 1, 0, &size)) list_ = nullptr;
        if (!list_ || !::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                                   handles_.size() * sizeof(HANDLE), nullptr, nullptr))
            win::raise_last_error(L"Unable to prepare the handles a process inherits!");
    }
    ~inherited_handles() {
        if (list_) ::DeleteProcThreadAttributeList(list_);
    }
    inherited_handles(const inherited_handles&) = delete;
    inherited_handles& operator=(const inherited_handles&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST list() const noexcept { return list_; }

private:
    std::vector<HANDLE> handles_;  // the attribute points into this copy
    std::vector<std::uint8_t> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Starts the command line with this process's token and environment and
// hands the process over to started; the thread handle is returned (kept
// only by a suspended start, to resume it). With a list of handles, the
// process inherits those and nothing else.
win::handle start(const std::wstring& command_line, const wchar_t* current_directory, bool show_window,
                  bool inherit_handles, process_record& started, DWORD extra_flags = 0,
                  const inherited_handles* only = nullptr) {
    started = process_record{};
    STARTUPINFOEXW si{};
    si.StartupInfo.cb = sizeof si.StartupInfo;
    DWORD flags = CREATE_NEW_CONSOLE | extra_flags;
    if (!show_window) {
        flags = CREATE_NO_WINDOW | extra_flags;
        si.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
        si.StartupInfo.wShowWindow = SW_HIDE;
    }
    if (only && only->list()) {
        si.StartupInfo.cb = sizeof si;
        si.lpAttributeList = only->list();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    std::vector<wchar_t> buffer = writable(command_line);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, inherit_handles ? TRUE : FALSE, flags, nullptr,
                          current_directory, &si.StartupInfo, &pi))
        win::raise_last_error(L"Unable to create process '%ls'!", command_line);
    started.process.reset(pi.hProcess);
    win::handle thread(pi.hThread);
    started.process_id = pi.dwProcessId;
    started.thread_id = pi.dwThreadId;
    return thread;
}

// The exit code after waiting up to timeout ms; 259 while still running.
std::uint32_t finish(const process_record& started, const std::wstring& command_line, std::uint32_t timeout) {
    if (timeout == 0) return STILL_ACTIVE;
    if (::WaitForSingleObject(started.process.get(), timeout) == WAIT_FAILED)
        win::raise_last_error(L"Unable to wait for process '%ls'!", command_line);
    DWORD code = 0;
    if (!::GetExitCodeProcess(started.process.get(), &code))
        win::raise_last_error(L"Unable to retrieve exit status for process '%ls'!", command_line);
    return code;
}

}  // namespace

std::unique_ptr<process_wrapper_intf> process_wrapper_intf::factory::create_process_wrapper() const {
    return std::make_unique<process_wrapper>();
}

std::uint32_t process_wrapper::run(const std::wstring& command_line, bool show_window, bool inherit_handles,
                                   std::uint32_t timeout, process_record& started) {
    start(command_line, nullptr, show_window, inherit_handles, started);
    return finish(started, command_line, timeout);
}

std::uint32_t process_wrapper::run_prepared(const std::wstring& command_line, bool show_window,
                                            const std::vector<HANDLE>& inherited, std::uint32_t timeout,
                                            const std::function<void()>& before_resume, process_record& started) {
    const inherited_handles only(inherited);
    const win::handle thread =
        start(command_line, nullptr, show_window, !inherited.empty(), started, CREATE_SUSPENDED, &only);
    try {
        if (before_resume) before_resume();
    } catch (...) {
        ::TerminateProcess(started.process.get(), ERROR_CANCELLED);
        started = process_record{};
        throw;
    }
    if (::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        const DWORD error = ::GetLastError();
        ::TerminateProcess(started.process.get(), ERROR_CANCELLED);
        started = process_record{};
        ::SetLastError(error);
        win::raise_last_error(L"Unable to resume process '%ls'!", command_line);
    }
    return finish(started, command_line, timeout);
}

std::uint32_t process_wrapper::run_in_directory(const std::wstring& command_line,
                                                const std::wstring& current_directory, bool show_window,
                                                bool inherit_handles, process_record& started) {
    start(command_line, current_directory.empty() ? nullptr : current_directory.c_str(), show_window,
          inherit_handles, started);
    return finish(started, command_line, INFINITE);
}

std::uint32_t process_wrapper::run_no_inherit(const std::wstring& command_line, bool show_window,
                                              std::uint32_t timeout, process_record& started) {
    return run(command_line, show_window, false, timeout, started);
}

void process_wrapper::run_as_user(HANDLE token, const std::wstring& command_line, std::uint32_t creation_flags) {
    HANDLE raw_token = nullptr;
    if (!::DuplicateTokenEx(token, TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY, nullptr,
                            SecurityImpersonation, TokenPrimary, &raw_token))
        win::raise_last_error(L"Unable to duplicate the access token!");
    const win::handle primary(raw_token);
    // The user's own variables, not this process's.
    const user_environment environment(primary.get());
    wchar_t desktop[] = L"WinSta0\\Default";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.lpDesktop = desktop;
    std::vector<wchar_t> buffer = writable(command_line);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessAsUserW(primary.get(), nullptr, buffer.data(), nullptr, nullptr, FALSE,
                                creation_flags | CREATE_UNICODE_ENVIRONMENT, environment.get(), nullptr, &si, &pi))
        win::raise_last_error(L"Unable to create process '%ls'!", command_line);
    const win::handle process(pi.hProcess);
    const win::handle thread(pi.hThread);
}

std::uint32_t process_wrapper::wait(HANDLE process, std::uint32_t timeout, HANDLE cancel) {
    if (!is_valid(process)) return ERROR_INVALID_HANDLE;
    // The process comes first: when both are already signalled, its exit
    // code says more than the cancellation.
    const HANDLE handles[] = {process, cancel};
    const DWORD count = is_valid(cancel) ? 2 : 1;
    switch (::WaitForMultipleObjects(count, handles, FALSE, timeout)) {
        case WAIT_OBJECT_0:
            break;
        case WAIT_OBJECT_0 + 1:
        case WAIT_ABANDONED_0 + 1:
            return ERROR_OPERATION_ABORTED;
        case WAIT_TIMEOUT:
            return ERROR_TIMEOUT;
        default:
            return ::GetLastError();
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(process, &code)) return ::GetLastError();
    return code;
}

}  // namespace qzr::systools
