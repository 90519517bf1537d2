// The log file sink: UTF-8 lines with a BOM, appended through a handle with
// append access, rotated to ".old" by handle when the file reaches its size.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "log/logger.hpp"
#include "win/handle.hpp"

namespace qzr::log {

class file_sink final : public ISink {
public:
    // Opens (or creates) the file; raises qzr::exceptions::error on failure.
    file_sink(const std::wstring& path, std::uint64_t rotation_size, unsigned min_level);

    unsigned min_level() const noexcept override { return min_level_; }
    void write(const event& ev, bool flush) override;

    const std::wstring& path() const noexcept { return path_; }

private:
    // Under lock_ and the file's lock. Whether the file was full: rotated
    // here, or already by another process; the caller opens the new one.
    bool rotate_if_needed();

    std::wstring path_;
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
void rotate_log_file(HANDLE file, const std::wstring& path);
}  // namespace detail

}  // namespace qzr::log
