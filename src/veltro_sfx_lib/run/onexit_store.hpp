// At-exit actions of modules loaded into the process. A module registers
// its actions here instead of with its own runtime; they run, latest first,
// when the module says it is unloading, or else when the process ends.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace qzr::sfx {

using onexit_action = void (*)();

// What a registration hands back: the module and its action. Valid until
// the action has run.
struct onexit_cookie {
    const void* module;
    onexit_action action;
};

class onexit_store {
public:
    // Keeps module's action. Null (and nothing kept) for a null action or
    // when memory runs out.
    onexit_cookie* add(const void* module, onexit_action action) noexcept;
    // Runs module's actions, latest first, and forgets them; the count run.
    // An action may register more: those of module run too.
    std::size_t run_module(const void* module) noexcept;
    // Runs every action left, latest first; the count run.
    std::size_t run_all() noexcept;
    std::size_t size() const;

private:
    // Takes out the latest action of module (any module when all).
    std::unique_ptr<onexit_cookie> take_latest(const void* module, bool all);
    std::size_t run_latest_first(const void* module, bool all) noexcept;

    mutable std::mutex lock_;
    std::vector<std::unique_ptr<onexit_cookie>> actions_;
};

// The process's store; what is left in it runs when the process exits.
onexit_store& process_onexit_store();

}  // namespace qzr::sfx
