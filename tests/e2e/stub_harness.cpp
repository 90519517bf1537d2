#include "stub_harness.hpp"

#include <windows.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "framework/path.hpp"
#include "win/file_system.hpp"
#include "win/handle.hpp"
#include "win/process_info.hpp"

namespace qzr::e2e {

namespace {

std::wstring own_folder() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return path::parent(std::wstring(buffer, n));
}

}  // namespace

std::wstring packed_stub(const std::wstring& name) {
    return path::join(path::join(own_folder(), L"e2e"), name + L".exe");
}

std::wstring stub_path() { return packed_stub(L"install"); }

std::wstring stub_copy(const std::wstring& file_name) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring target = path::join(tmp, file_name);
    if (!CopyFileW(stub_path().c_str(), target.c_str(), FALSE)) throw std::runtime_error("copy of the stub failed");
    return target;
}

std::wstring log_file_path() {
    return path::join(win::common_app_data(), L"Odrano\\Veltro\\Logs\\sfx.log");
}

std::wstring windows_temp() {
    wchar_t dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    return path::join(dir, L"Temp");
}

std::vector<std::wstring> temp_folders() {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW d;
    win::find_handle h(FindFirstFileW(path::join(windows_temp(), L"qzr-*").c_str(), &d));
    if (!h) return out;
    do {
        out.push_back(path::join(windows_temp(), d.cFileName));
    } while (FindNextFileW(h.get(), &d));
    return out;
}

std::string read_file(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

run_result run_stub(const std::wstring& arguments, const std::wstring& exe, std::uint32_t timeout_ms) {
    DeleteFileW(log_file_path().c_str());
    DeleteFileW((log_file_path() + L".old").c_str());
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        throw std::runtime_error("CreateProcessW failed");
    win::handle process(pi.hProcess);
    win::handle thread(pi.hThread);
    run_result r;
    if (WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
        r.timed_out = true;
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 10000);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    r.exit_code = code;
    r.log = read_file(log_file_path());
    return r;
}

void set_reported_version(const std::wstring& exe_name, const std::wstring& version) {
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" + exe_name;
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        throw std::runtime_error("registry key");
    RegSetValueExW(h, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                   static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
}

std::vector<std::string> log_messages(const std::string& log) {
    std::vector<std::string> out;
    std::size_t at = log.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    while (at < log.size()) {
        const auto end = log.find("\r\n", at);
        const std::string line = log.substr(at, end == std::string::npos ? std::string::npos : end - at);
        out.push_back(line.size() > 78 ? line.substr(78) : std::string());
        if (end == std::string::npos) break;
        at = end + 2;
    }
    return out;
}

}  // namespace qzr::e2e
