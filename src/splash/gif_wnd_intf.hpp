// The splash window as its users see it: an animated picture with one line
// of status text and a progress indicator on its taskbar button, running on
// a thread of its own. Every operation may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "framework/byte_view.hpp"

namespace qzr::features::splash {

// What the splash shows.
class gif_wnd_data_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<gif_wnd_data_intf> create(const std::wstring& caption,
                                                          const std::wstring& title) const = 0;
    };

    virtual ~gif_wnd_data_intf() = default;
    // The GIF's bytes; empty when the picture cannot be found.
    virtual byte_view gif() const = 0;
    // The window's icon (an HICON), null when there is none.
    virtual void* icon() const = 0;
    virtual std::wstring caption() const = 0;
    virtual std::wstring title() const = 0;
    // Pixels from the window's top edge where the status text begins.
    virtual int text_top() const = 0;
    virtual std::uint32_t text_colour() const = 0;  // COLORREF
    virtual void set_text_colour(std::uint32_t colour) = 0;
};

class gif_wnd_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<gif_wnd_intf> create(const std::shared_ptr<gif_wnd_data_intf>& data) const = 0;
    };

    virtual ~gif_wnd_intf() = default;
    // Starts the window thread and returns once its window exists (or has
    // failed to); false when it runs already or cannot be started.
    virtual bool start(bool show) = 0;
    virtual void stop() = 0;
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual void set_text(const std::wstring& text) = 0;
    // 0-100: a normal bar; anything else (-1 too): indeterminate.
    virtual void set_progress(std::int32_t percent) = 0;
    // Keeps users from pinning the splash to the taskbar; the result code.
    virtual std::int32_t prevent_pinning() = 0;
};

}  // namespace qzr::features::splash
