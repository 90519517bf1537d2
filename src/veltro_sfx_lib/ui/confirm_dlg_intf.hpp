// The install confirmation dialog: asks the user to confirm the installation
// of a product before any file is placed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qzr::sfx {

class confirm_dlg_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<confirm_dlg_intf> create() const = 0;
    };

    // What the user chose.
    static constexpr std::int32_t install = 0;
    static constexpr std::int32_t not_shown = 1;
    static constexpr std::int32_t cancel = 2;

    // Blocks until the user has chosen: install, cancel, or not_shown when
    // the window could not be shown.
    virtual std::int32_t show(const std::wstring& title, std::int32_t language) = 0;
    virtual ~confirm_dlg_intf() = default;
};

}  // namespace qzr::sfx
