// The splash window: a borderless window centred on the screen showing an
// animated GIF with one line of status text under a lock, on a thread of its
// own so that the preparation may block without freezing it. Frames are
// rendered once at creation; the frame timer only blits them.
#pragma once

#include <windows.h>

#include <objidl.h>
#include <shobjidl.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "splash/gif_wnd_intf.hpp"
#include "win/handle.hpp"

namespace Gdiplus {
class GpImage;
}

namespace qzr::features::splash {

// Messages every process registers alike, so that another process can hide
// the splash ("QzrSplashScreenHide" with lParam 35) and the shell can tell
// that the taskbar button exists.
UINT splash_hide_message() noexcept;
UINT taskbar_button_created_message() noexcept;
inline constexpr LPARAM splash_hide_lparam = 35;
inline constexpr wchar_t splash_class_name[] = L"qzrSfxSplashClass";
// Posted to the window with a percentage (wParam) for its taskbar button.
inline constexpr UINT progress_message = WM_APP + 1;

class gif_wnd final : public gif_wnd_intf {
public:
    struct factory final : gif_wnd_intf::factory {
        std::shared_ptr<gif_wnd_intf> create(const std::shared_ptr<gif_wnd_data_intf>& data) const override;
    };

    gif_wnd(std::shared_ptr<gif_wnd_data_intf> data, HINSTANCE instance);
    ~gif_wnd() override;
    gif_wnd(const gif_wnd&) = delete;
    gif_wnd& operator=(const gif_wnd&) = delete;

    bool start(bool show) override;
    void stop() override;
    void show() override;
    void hide() override;
    void set_text(const std::wstring& text) override;
    void set_progress(std::int32_t percent) override;
    std::int32_t prevent_pinning() override;

    HWND window() const noexcept { return window_.load(); }

private:
    static DWORD WINAPI thread_main(void* self);
    static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    DWORD run_window_thread();
    LRESULT on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    bool on_create(HWND window);
    void on_timer(HWND window);
    void on_paint(HWND window);
    void show_progress(HWND window, std::int32_t percent);
    void create_taskbar();
    void release_taskbar();
    UINT frame_delay_ms(UINT frame) const;

    struct gdiplus_session {
        gdiplus_session();
        ~gdiplus_session();
        ULONG_PTR token = 0;
    };

    gdiplus_session gdiplus_;
    IStream* stream_ = nullptr;  // the GIF bytes the image decodes from
    Gdiplus::GpImage* image_ = nullptr;  // owned; disposed before the session ends
    GUID dimension_{};
    UINT frame_count_ = 0;
    UINT frame_ = 0;
    std::vector<UINT> delays_;  // hundredths of a second, per frame
    std::vector<win::gdi_object> frames_;
    win::gdi_object font_;
    int width_ = 0;
    int height_ = 0;

    std::shared_ptr<gif_wnd_data_intf> data_;
    win::critical_section text_lock_;
    std::wstring text_;
    bool text_set_ = false;

    win::handle ready_;
    bool ready_signalled_ = false;
    win::handle thread_;
    std::atomic<HWND> window_{nullptr};
    HINSTANCE instance_;
    win::critical_section taskbar_lock_;
    ITaskbarList3* taskbar_ = nullptr;
    std::atomic<std::int32_t> posted_progress_{INT32_MIN};
    static constexpr UINT_PTR timer_id = 1001;
    bool show_at_start_ = false;
    int text_top_ = 165;
};

}  // namespace qzr::features::splash
