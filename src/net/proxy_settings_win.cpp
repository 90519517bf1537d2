// Reading and writing proxy.ini. The stub and the setup master it starts
// both read and write this file, so every access holds a lock of the whole
// file, and an open that meets another process's handle waits a little.
#include <windows.h>

#include "framework/errors.hpp"
#include "net/proxy_settings.hpp"
#include "win/handle.hpp"
#include "win/security_descriptor.hpp"

namespace qzr::http {

namespace {

constexpr int open_attempts = 50;
constexpr DWORD open_retry_delay_ms = 100;
// A proxy.ini holds a few hundred bytes; anything this large is not one, and
// reading it whole must not exhaust a 32-bit process.
constexpr LONGLONG largest_file = 1 << 20;

win::file_handle open_retrying(const std::wstring& path, DWORD access, DWORD disposition, DWORD& error,
                               SECURITY_ATTRIBUTES* security = nullptr) {
    for (int attempt = 1;; ++attempt) {
        win::file_handle file(::CreateFileW(path.c_str(), access, FILE_SHARE_READ, security, disposition,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        error = file ? ERROR_SUCCESS : ::GetLastError();
        if (file) return file;
        if (error != ERROR_SHARING_VIOLATION || attempt == open_attempts) return file;
        ::Sleep(open_retry_delay_ms);
    }
}

// A lock of every byte the file has or may get, released with the guard.
class whole_file_lock {
public:
    whole_file_lock(HANDLE file, DWORD flags) : file_(file) {
        locked_ = ::LockFileEx(file_, flags, 0, MAXDWORD, MAXDWORD, &where_) != FALSE;
    }
    ~whole_file_lock() {
        if (locked_) ::UnlockFileEx(file_, 0, MAXDWORD, MAXDWORD, &where_);
    }
    whole_file_lock(const whole_file_lock&) = delete;
    whole_file_lock& operator=(const whole_file_lock&) = delete;
    explicit operator bool() const noexcept { return locked_; }

private:
    HANDLE file_;
    OVERLAPPED where_{};
    bool locked_ = false;
};

}  // namespace

std::uint32_t ProxySettings::load(const std::wstring& path) {
    DWORD error = 0;
    const win::file_handle file = open_retrying(path, GENERIC_READ, OPEN_EXISTING, error);
    if (!file) return error;
    const whole_file_lock lock(file.get(), 0);
    if (!lock) return ::GetLastError();

    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) return ::GetLastError();
    if (size.QuadPart > largest_file) return ERROR_FILE_TOO_LARGE;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr))
            return ::GetLastError();
        if (got == 0) break;
        done += got;
    }
    bytes.resize(done);

    const ProxySettings read = parse_proxy_ini(bytes);
    const bool keep_reserved = reserved;
    *this = read;
    reserved = keep_reserved;
    return 0;
}

std::uint32_t ProxySettings::save(const std::wstring& path) const {
    const std::vector<std::uint8_t> bytes = serialize_proxy_ini(*this);
    DWORD error = 0;
    // The proxy's user name and password: a file it creates is readable by
    // its owner, Administrators and the system only.
    win::local_memory sd;
    try {
        sd = win::security_descriptor(win::private_file_sddl);
    } catch (const exceptions::error& e) {
        return static_cast<std::uint32_t>(e.code());
    }
    SECURITY_ATTRIBUTES private_file{sizeof private_file, sd.get(), FALSE};
    const win::file_handle file = open_retrying(path, GENERIC_WRITE | DELETE, OPEN_ALWAYS, error, &private_file);
    if (!file) return error;
    const whole_file_lock lock(file.get(), LOCKFILE_EXCLUSIVE_LOCK);
    if (!lock) return ::GetLastError();

    // Open-always keeps an existing file's bytes: what follows the new text
    // is cut off, or a longer old file would leave its tail behind.
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        error = ::GetLastError();
    else if (written != bytes.size())
        error = ERROR_WRITE_FAULT;
    else if (!::SetEndOfFile(file.get()))
        error = ::GetLastError();
    if (error) {
        FILE_DISPOSITION_INFO gone{TRUE};
        ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &gone, sizeof gone);
        return error;
    }
    return 0;
}

}  // namespace qzr::http
