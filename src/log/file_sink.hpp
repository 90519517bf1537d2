// The log file sink: UTF-8 lines with a BOM, appended through a handle with
// append access, rotated to ".old" by handle when the file reaches its size.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "log/logger.hpp"
#include "win/handle.hpp"

namespace qzr::log {

// The log sits in a folder that users may have prepared before the elevated
// stub first runs. It is written only when neither the file nor any folder
// on its way is a reparse point (a junction or a symbolic link would send
// the writes and the rotation elsewhere) and the file has no second name (a
// hard link to a file of the system's).
bool is_safe_log_folder(std::uint32_t attributes) noexcept;
bool is_safe_log_file(std::uint32_t attributes, std::uint32_t link_count) noexcept;

class file_sink final : public ISink {
public:
    // Opens (or creates) the file; raises qzr::exceptions::error on failure,
    // and for a file or folder that is not safe. The folders on the way stay
    // open, barred from being renamed or removed, as long as the sink lives.
    file_sink(const std::wstring& path, std::uint64_t rotation_size, unsigned min_level);

    unsigned min_level() const noexcept override { return min_level_; }
    void write(const event& ev, bool flush) override;

    const std::wstring& path() const noexcept { return path_; }

private:
    // Under lock_ and the file's lock. Whether the file was full: rotated
    // here, or already by another process; the caller opens the new one.
    bool rotate_if_needed();

    std::wstring path_;
    std::vector<win::file_handle> folders_;
    std::shared_ptr<win::file_handle> file_;
    std::uint64_t rotation_size_;
    unsigned min_level_;
    win::critical_section lock_;
};

// Adds a file sink to the process logger. Failures are reported through
// OutputDebugStringA and leave the run without a log file; returns whether
// the sink was added.
bool add_file_sink(const std::wstring& path, std::uint64_t rotation_size, unsigned min_level) noexcept;

namespace detail {
// Exposed for tests: the open procedure and the by-handle rotation.
// Whether the open file is the one path names now (not rotated away).
bool holds_file_at(HANDLE file, const std::wstring& path);
win::file_handle open_log_file(const std::wstring& path, bool second_attempt = false);
// Opens every folder from the volume's root down to folder, checks it and
// holds it; raises when one is missing or not safe.
std::vector<win::file_handle> hold_folders(const std::wstring& folder);
void rotate_log_file(HANDLE file, const std::wstring& path);
}  // namespace detail

}  // namespace qzr::log
