#include "veltro_sfx_lib/run/onexit_store.hpp"

#include <cstdlib>
#include <new>

namespace qzr::sfx {

onexit_cookie* onexit_store::add(const void* module, onexit_action action) noexcept {
    if (!action) return nullptr;
    try {
        auto cookie = std::make_unique<onexit_cookie>(onexit_cookie{module, action});
        onexit_cookie* holder = cookie.get();
        const std::lock_guard guard(lock_);
        actions_.push_back(std::move(cookie));
        return holder;
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<onexit_cookie> onexit_store::take_latest(const void* module, bool all) {
    const std::lock_guard guard(lock_);
    for (auto it = actions_.rbegin(); it != actions_.rend(); ++it) {
        if (!all && (*it)->module != module) continue;
        auto taken = std::move(*it);
        actions_.erase(std::next(it).base());
        return taken;
    }
    return nullptr;
}

// Each action runs outside the lock: it may register or unload in turn.
std::size_t onexit_store::run_latest_first(const void* module, bool all) noexcept {
    std::size_t count = 0;
    while (const auto cookie = take_latest(module, all)) {
        cookie->action();
        ++count;
    }
    return count;
}

std::size_t onexit_store::run_module(const void* module) noexcept { return run_latest_first(module, false); }

std::size_t onexit_store::run_all() noexcept { return run_latest_first(nullptr, true); }

std::size_t onexit_store::size() const {
    const std::lock_guard guard(lock_);
    return actions_.size();
}

onexit_store& process_onexit_store() {
    // Never destroyed: it must outlive every other exit-time step, and what
    // it holds runs from the exit handler registered right after it exists.
    static onexit_store* const store = [] {
        auto* s = new onexit_store;
        std::atexit([] { process_onexit_store().run_all(); });
        return s;
    }();
    return *store;
}

}  // namespace qzr::sfx
