// Facts about the running process: who started it, its integrity level,
// WOW64 redirection, folders.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qzr::win {

// The full path of this process's executable as the loader records it.
std::wstring module_file_name();

// "%d-%s": parent process id and image name; raises on failure.
std::wstring launched_by();

// The last sub-authority of the token's integrity SID; 0 when it cannot be read.
std::uint32_t integrity_level() noexcept;

// The common application data folder (CSIDL_COMMON_APPDATA).
std::wstring common_app_data();

// Turns WOW64 file-system redirection off for the calling thread until the
// guard goes; does nothing outside WOW64.
class fs_redirection_auto {
public:
    fs_redirection_auto() noexcept;
    ~fs_redirection_auto();
    fs_redirection_auto(const fs_redirection_auto&) = delete;
    fs_redirection_auto& operator=(const fs_redirection_auto&) = delete;

private:
    void* old_value_ = nullptr;
    bool disabled_ = false;
};

}  // namespace qzr::win
