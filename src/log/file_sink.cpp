#include "log/file_sink.hpp"

#include <cstring>
#include <mutex>
#include <vector>

#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "framework/uuid.hpp"
#include "win/file_system.hpp"
#include "win/system_error.hpp"

namespace qzr::log {

namespace {

constexpr unsigned char utf8_bom[3] = {0xEF, 0xBB, 0xBF};

bool rename_by_handle(HANDLE file, const std::wstring& target) noexcept {
    const std::size_t bytes = sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(bytes, 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, target.data(), target.size() * sizeof(wchar_t));
    return ::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(bytes)) != FALSE;
}

bool mark_for_deletion(HANDLE file) noexcept {
    FILE_DISPOSITION_INFO info{TRUE};
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) != FALSE;
}

std::wstring random_suffix() {
    return text::format(L"%016llx", uuid::process_generator().draw());
}

bool ends_with_log(const std::wstring& path) {
    return path.size() >= 4 && utf::iequals(std::wstring_view(path).substr(path.size() - 4), L".log");
}

// Links are opened themselves, never followed: what is opened is then
// checked through its handle.
constexpr DWORD no_follow = FILE_FLAG_OPEN_REPARSE_POINT;

win::file_handle open_existing(const std::wstring& path) {
    return win::file_handle(::CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA | DELETE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | no_follow, nullptr));
}

// Raises unless the open log file is safe to write.
void check_log_file(HANDLE file, const std::wstring& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) win::raise_last_error(L"Failed to open log file '%s'", path);
    if (!is_safe_log_file(info.dwFileAttributes, info.nNumberOfLinks))
        throw exceptions::error(ERROR_CANT_ACCESS_FILE, L"The log file '%s' is a link; no log is written", path);
}

// A new file is written under a temporary name and then renamed, so that no
// reader ever sees a log file without its BOM.
void create_with_bom(const std::wstring& path) {
    const std::wstring tmp = path + L".tmp." + uuid::to_wstring(uuid::random_uuid());
    win::file_handle file(::CreateFileW(tmp.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | no_follow, nullptr));
    if (!file) win::raise_last_error(L"Failed to create new log file '%s'", tmp);
    DWORD written = 0;
    const bool wrote = ::WriteFile(file.get(), utf8_bom, sizeof utf8_bom, &written, nullptr) && written == 3;
    if (!wrote || !rename_by_handle(file.get(), path)) {
        // Another process may have created the log meanwhile; ours goes away.
        mark_for_deletion(file.get());
    }
}

// An exclusive lock on one byte far beyond any end the log reaches, taken
// by every writer of the file around its size check, rotation and write:
// the lines of several processes follow one another. Released when the
// scope ends (or with the handle, if the process ends first).
class file_lock {
public:
    explicit file_lock(HANDLE file) : file_(file) {
        at_.Offset = 0;
        at_.OffsetHigh = 0x40000000;
        locked_ = ::LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at_) != FALSE;
    }
    ~file_lock() {
        if (locked_) ::UnlockFileEx(file_, 0, 1, 0, &at_);
    }
    file_lock(const file_lock&) = delete;
    file_lock& operator=(const file_lock&) = delete;

private:
    HANDLE file_;
    OVERLAPPED at_{};
    bool locked_ = false;
};

}  // namespace

bool is_safe_log_folder(std::uint32_t attributes) noexcept {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool is_safe_log_file(std::uint32_t attributes, std::uint32_t link_count) noexcept {
    return !(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) && link_count == 1;
}

namespace detail {

std::vector<win::file_handle> hold_folders(const std::wstring& folder) {
    std::wstring step = win::full_path(folder);
    while (step.size() > 3 && path::is_separator(step.back())) step.pop_back();
    std::vector<win::file_handle> held;
    // Each folder below the volume's root (the drive, or a share's server
    // and name) in turn: the path is cut at each separator, and at its end.
    const std::size_t root = step.rfind(L"\\\\", 0) == 0 ? step.find(L'\\', step.find(L'\\', 2) + 1) : step.find(L'\\');
    for (std::size_t i = root == std::wstring::npos ? step.size() : root + 1; i <= step.size(); ++i) {
        if (i < step.size() && step[i] != L'\\') continue;
        const wchar_t kept = step[i];
        step[i] = L'\0';
        // Listing access takes part in sharing, so that without delete
        // sharing nobody can rename the folder away while it is held.
        win::file_handle h(::CreateFileW(step.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | no_follow, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        const bool inspected = h && ::GetFileInformationByHandle(h.get(), &info);
        if (!inspected) {
            const DWORD error = ::GetLastError();
            throw exceptions::error(static_cast<std::int32_t>(error), L"Failed to open log folder '%s'",
                                    std::wstring(step.c_str()));
        }
        if (!is_safe_log_folder(info.dwFileAttributes))
            throw exceptions::error(ERROR_CANT_ACCESS_FILE, L"The log folder '%s' is a link; no log is written",
                                    std::wstring(step.c_str()));
        step[i] = kept;
        held.push_back(std::move(h));
    }
    return held;
}

bool holds_file_at(HANDLE file, const std::wstring& path) {
    const win::file_handle named(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | no_follow, nullptr));
    BY_HANDLE_FILE_INFORMATION ours{}, theirs{};
    if (!named || !::GetFileInformationByHandle(file, &ours) || !::GetFileInformationByHandle(named.get(), &theirs))
        return false;
    return ours.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber && ours.nFileIndexHigh == theirs.nFileIndexHigh &&
           ours.nFileIndexLow == theirs.nFileIndexLow;
}

void rotate_log_file(HANDLE file, const std::wstring& path) {
    if (!ends_with_log(path)) return;
    if (!rename_by_handle(file, text::format(L"%s.to_rotate.%s", path, random_suffix()))) return;
    const std::wstring old_path = path + L".old";
    if (rename_by_handle(file, old_path)) return;
    // A link planted as the old file goes itself, never its target.
    win::file_handle old(::CreateFileW(old_path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | no_follow, nullptr));
    if (!old) {
        mark_for_deletion(file);
        return;
    }
    const std::wstring doomed = text::format(L"%s.to_delete.%s", path, random_suffix());
    if (rename_by_handle(old.get(), doomed)) {
        if (!mark_for_deletion(old.get())) ::MoveFileExW(doomed.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    } else if (!mark_for_deletion(old.get())) {
        ::MoveFileExW(old_path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    old.reset();
    if (!rename_by_handle(file, old_path)) mark_for_deletion(file);
}

win::file_handle open_log_file(const std::wstring& path, bool second_attempt) {
    win::file_handle file = open_existing(path);
    if (!file) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND)
            throw exceptions::error(static_cast<std::int32_t>(err), L"Failed to open log file '%s'", path);
        if (err == ERROR_PATH_NOT_FOUND) win::create_directories(path::parent(path));
        create_with_bom(path);
        file = open_existing(path);
        if (!file) win::raise_last_error(L"Failed to open log file '%s'", path);
    }
    check_log_file(file.get(), path);
    unsigned char head[3] = {};
    DWORD got = 0;
    OVERLAPPED at_start{};
    const bool read = ::ReadFile(file.get(), head, sizeof head, &got, &at_start) != FALSE;
    if (read && got == 3 && std::memcmp(head, utf8_bom, 3) == 0) return file;
    if (second_attempt) throw exceptions::error(exceptions::invalid_data_code, L"BOM not present in '%s'", path);
    rotate_log_file(file.get(), path);
    file.reset();
    return open_log_file(path, true);
}

}  // namespace detail

namespace {

std::vector<win::file_handle> prepare_folders(const std::wstring& path) {
    const std::wstring folder = path::parent(path);
    if (!win::is_directory(folder)) win::create_directories(folder);
    return detail::hold_folders(folder);
}

}  // namespace

file_sink::file_sink(const std::wstring& path, std::uint64_t rotation_size, unsigned min_level)
    : path_(win::full_path(path)),
      folders_(prepare_folders(path_)),
      file_(std::make_shared<win::file_handle>(detail::open_log_file(path_))),
      rotation_size_(rotation_size),
      min_level_(min_level) {}

bool file_sink::rotate_if_needed() {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file_->get(), &size)) win::raise_last_error(L"Unable to get file size!");
    if (static_cast<std::uint64_t>(size.QuadPart) < rotation_size_) return false;
    // Other processes append to the same file. The first to lock it rotates
    // it; the others, once they get the lock, find that their handle no
    // longer holds the file at the path and only open the new one. Without
    // this, a second rotation of the same full file would move it over the
    // first one's result, or delete it, and its lines would be lost.
    if (detail::holds_file_at(file_->get(), path_)) detail::rotate_log_file(file_->get(), path_);
    return true;
}

void file_sink::write(const event& ev, bool flush) {
    if (ev.level < min_level_) return;
    const std::string line = format_line(ev);
    // One lock over the size check, the rotation and the write: the handle is
    // replaced by a rotation, and a line must land whole in exactly one file.
    std::lock_guard<win::critical_section> guard(lock_);
    // The file lock does the same between processes: some systems do not
    // make appends through separate handles atomic, and two lines written at
    // once would land on the same bytes.
    for (;;) {
        const file_lock across_processes(file_->get());
        if (rotation_size_ && rotate_if_needed()) {
            file_ = std::make_shared<win::file_handle>(detail::open_log_file(path_));
            continue;  // the new file, under its own lock
        }
        DWORD written = 0;
        if (!::WriteFile(file_->get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
            win::raise_last_error(L"Unable to write log file '%s'", path_);
        if (flush) ::FlushFileBuffers(file_->get());
        return;
    }
}

bool add_file_sink(const std::wstring& path, std::uint64_t rotation_size, unsigned min_level) noexcept {
    try {
        if (min_level > level_fatal) throw exceptions::error(exceptions::invalid_parameter_code, "Invalid log level");
        auto* lg = logger();
        if (!lg) return false;
        lg->add_sink(std::make_shared<file_sink>(path, rotation_size, min_level));
        return true;
    } catch (const std::exception& e) {
        ::OutputDebugStringA(describe_exception(e).c_str());
    } catch (...) {
        ::OutputDebugStringA("Adding the log file failed.");
    }
    return false;
}

}  // namespace qzr::log
