#include "veltro_sfx_lib/launch/secure_process_launcher.hpp"

#include <windows.h>
#include <tlhelp32.h>

#include <thread>

#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "log/logger.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "win/handle.hpp"

namespace qzr::sfx {

namespace {

constexpr wchar_t bug_report_name[] = L"bug_report.exe";

// Lower-cased image paths of the running bug-report tools.
std::vector<std::wstring> bug_report_images() {
    std::vector<std::wstring> images;
    win::file_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return images;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = ::Process32FirstW(snapshot.get(), &entry); ok; ok = ::Process32NextW(snapshot.get(), &entry)) {
        if (!utf::iequals(entry.szExeFile, bug_report_name)) continue;
        win::handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process) continue;
        wchar_t image[MAX_PATH * 2];
        DWORD size = static_cast<DWORD>(std::size(image));
        if (!::QueryFullProcessImageNameW(process.get(), PROCESS_NAME_NATIVE, image, &size)) continue;
        images.push_back(utf::ascii_lower(std::wstring_view(image, size)));
    }
    return images;
}

}  // namespace

std::uint32_t secure_process_launcher::run_process(const std::wstring& program, const std::wstring& arguments,
                                                   std::uint32_t timeout) {
    QZR_LOG_INFO(L"Start of run_process '%s', cmdline '%s', timeout '%u'", program, arguments, timeout);
    command_line cmd(arguments, false);
    if (!program.empty()) cmd.set_program_path(program);
    const std::wstring full = cmd.rebuild(true);
    systools::process_record started;  // its handles close when the call ends; the process keeps running
    // The placed files stay as checked until the program exists, and are
    // let go before its first instruction: from then on they are its own.
    // Only the executable's handle that the hand-over document names: any
    // other inheritable handle of the stub (and of whatever started it) stays
    // out of the program.
    std::vector<HANDLE> inherited;
    if (void* h = payload_ ? payload_->master_handle() : nullptr) inherited.push_back(h);
    const std::uint32_t code = create_process_wrapper()->run_prepared(
        full, true, inherited, timeout, [this] { if (placed_) placed_->release_all(); }, started);
    if (code == STILL_ACTIVE) QZR_LOG_WARNING(L"Process '%s', timeout '%u' is still running", full, timeout);
    else QZR_LOG_INFO(L"Process '%s' finished with exit code '%u'", full, code);
    return code;
}

std::wstring secure_process_launcher::bug_report_pattern(const std::wstring& folder) {
    std::size_t root = 0;
    if (folder.size() >= 2 && folder[1] == L':') {
        root = 2;
    } else if (folder.size() >= 2 && path::is_separator(folder[0]) && path::is_separator(folder[1])) {
        // \\server\share
        std::size_t seps = 0;
        for (root = 2; root < folder.size(); ++root)
            if (path::is_separator(folder[root]) && ++seps == 2) break;
    }
    while (root < folder.size() && path::is_separator(folder[root])) ++root;
    return utf::ascii_lower(path::join(folder.substr(root), bug_report_name));
}

void secure_process_launcher::wait_for_bug_report(const std::wstring& folder) {
    const std::wstring pattern = bug_report_pattern(folder);
    QZR_LOG_INFO(L"Wait for bug_report (%s) start", pattern);
    const auto start = std::chrono::steady_clock::now();
    bool announced = false;
    bool timed_out = false;
    for (;;) {
        bool running = false;
        for (const auto& image : bug_report_images())
            if (image.size() >= pattern.size() && image.compare(image.size() - pattern.size(), pattern.size(), pattern) == 0)
                running = true;
        if (std::chrono::steady_clock::now() - start > limit_) {
            timed_out = true;
            break;
        }
        if (!running) break;
        if (!announced) {
            QZR_LOG_INFO(L"Waiting for bug_report...");
            announced = true;
        }
        std::this_thread::sleep_for(poll_);
    }
    if (timed_out) QZR_LOG_INFO(L"Waiting for bug_report finish timeout");
    QZR_LOG_INFO(L"Wait for bug_report end");
}

}  // namespace qzr::sfx
