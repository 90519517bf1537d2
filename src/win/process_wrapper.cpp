#include "win/process_wrapper.hpp"

#include <vector>

#include "win/handle.hpp"
#include "win/system_error.hpp"

namespace qzr::systools {

std::unique_ptr<process_wrapper_intf> process_wrapper_intf::factory::create_process_wrapper() const {
    return std::make_unique<process_wrapper>();
}

std::uint32_t process_wrapper::run(const std::wstring& command_line, bool show_window, bool inherit_handles,
                                   std::uint32_t timeout) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    DWORD flags = CREATE_NEW_CONSOLE;
    if (!show_window) {
        flags = CREATE_NO_WINDOW;
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
    }
    // CreateProcessW may write into the command line buffer.
    std::vector<wchar_t> buffer(command_line.begin(), command_line.end());
    buffer.push_back(L'\0');
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, inherit_handles ? TRUE : FALSE, flags, nullptr,
                          nullptr, &si, &pi))
        win::raise_last_error(L"Unable to create process '%ls'!", command_line);
    const win::handle process(pi.hProcess);
    const win::handle thread(pi.hThread);
    if (timeout == 0) return STILL_ACTIVE;
    if (::WaitForSingleObject(process.get(), timeout) == WAIT_FAILED)
        win::raise_last_error(L"Unable to wait for process '%ls'!", command_line);
    DWORD code = 0;
    if (!::GetExitCodeProcess(process.get(), &code))
        win::raise_last_error(L"Unable to retrieve exit status for process '%ls'!", command_line);
    return code;
}

}  // namespace qzr::systools
