// The splash window as the run driver uses it; its operations may be called
// from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qzr::sfx {

class splash_window_intf {
public:
    struct factory {
        virtual ~factory() = default;
        // From the GIF resource, with the caption and the background colour.
        virtual std::shared_ptr<splash_window_intf> create(const std::wstring& caption, std::uint32_t colour) const = 0;
    };

    virtual ~splash_window_intf() = default;
    virtual void start(int mode) = 0;
    virtual void stop() = 0;
    virtual void set_text(const std::wstring& text) = 0;
    virtual void set_progress(int percent) = 0;  // -1: no percentage
    virtual void prevent_pinning() = 0;
};

}  // namespace qzr::sfx
