#include "win/file_lock.hpp"

namespace qzr::win {

file_handle lock_against_writers(const std::wstring& path) noexcept {
    // Readers (the signature check, the loader) may still open it; writers
    // and deleters, the DELETE access of a rename or replace included, may not.
    return file_handle(::CreateFileW(path.c_str(), FILE_READ_DATA | SYNCHRONIZE, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace qzr::win
