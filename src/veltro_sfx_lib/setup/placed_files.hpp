// The setup files placed for the setup master, each held open from its
// check until the master has started: reading is shared, writing, renaming
// and deleting are not, so nothing can swap a verified file before it runs.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace qzr::sfx {

// An open handle on a placed file, as the platform layer opened it; the file
// is released when the last copy goes.
using file_hold = std::shared_ptr<void>;

class placed_files {
public:
    // Keeps the hold for path (replacing an earlier one for the same path).
    void hold(const std::wstring& path, file_hold h);
    // Lets path go, before the same path is placed again.
    void release(const std::wstring& path);
    // Lets every file go: once the setup master runs, or when the run ends
    // before it, so that the temporary folder can be removed.
    void release_all();
    bool holds(const std::wstring& path) const;
    std::size_t size() const;

private:
    // Paths compare without regard to ASCII case, as the file system does.
    static std::wstring key(const std::wstring& path);

    mutable std::mutex lock_;
    std::map<std::wstring, file_hold> holds_;
};

}  // namespace qzr::sfx
