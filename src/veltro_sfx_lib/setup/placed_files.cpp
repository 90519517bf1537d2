#include "veltro_sfx_lib/setup/placed_files.hpp"

#include "framework/utf.hpp"

namespace qzr::sfx {

std::wstring placed_files::key(const std::wstring& path) { return utf::ascii_lower(path); }

void placed_files::hold(const std::wstring& path, file_hold h) {
    const std::lock_guard guard(lock_);
    holds_[key(path)] = std::move(h);
}

void placed_files::release(const std::wstring& path) {
    file_hold gone;
    {
        const std::lock_guard guard(lock_);
        const auto it = holds_.find(key(path));
        if (it == holds_.end()) return;
        gone = std::move(it->second);
        holds_.erase(it);
    }
}

void placed_files::release_all() {
    std::map<std::wstring, file_hold> gone;
    {
        const std::lock_guard guard(lock_);
        gone.swap(holds_);
    }
}

bool placed_files::holds(const std::wstring& path) const {
    const std::lock_guard guard(lock_);
    return holds_.count(key(path)) != 0;
}

std::size_t placed_files::size() const {
    const std::lock_guard guard(lock_);
    return holds_.size();
}

}  // namespace qzr::sfx
