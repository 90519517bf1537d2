// The splash window and the confirmation dialog in real windows; these run
// on a display (see tests/ui/with_display).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "splash/gif_wnd.hpp"
#include "splash/res_gif_wnd_data.hpp"
#include "framework/lzma_codec.hpp"
#include "support/string_table_source.hpp"
#include "veltro_sfx_lib/ui/confirm_dlg.hpp"

namespace {

using namespace qzr::features::splash;
using namespace std::chrono_literals;

// The table the build compressed into the program decodes to the source,
// byte for byte, and stays small.
TEST(StringTableResource, DecodesToTheSourceAndStaysSmall) {
    const qzr::byte_view table = qzr::sfx::string_table_resource();
    ASSERT_FALSE(table.empty());
    EXPECT_LE(table.size(), 20u * 1024);
    const auto xml = qzr::packers::lzma_decode(table);
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(xml.data()), xml.size()), qzr::test::string_table_source);
    EXPECT_EQ(qzr::sfx::sfx_translator::factory().create(1049)->translate(L"@Sfx_PPI_Cancel"), L"Отмена");
}

// Resource identifiers of the test program (tests/win/ui_test.rc.in).
constexpr int animated_gif = 200;
constexpr int single_frame_gif = 201;
constexpr int no_gif = 299;
constexpr COLORREF gif_background = RGB(0x11, 0x14, 0x20);
constexpr COLORREF text_colour = RGB(0xFE, 0xFE, 0xFE);

std::shared_ptr<res_gif_wnd_data> data(int gif) {
    auto d = std::make_shared<res_gif_wnd_data>(::GetModuleHandleW(nullptr), gif, gif_resource_type, icon_resource_id,
                                                L"Veltro Studio Self-Extractor", L"Veltro Studio");
    d->set_text_colour(text_colour);
    return d;
}

// The picture's background, within what its palette makes of it.
bool is_background(COLORREF c) {
    auto close = [](int a, int b) { return a - b <= 3 && b - a <= 3; };
    return close(GetRValue(c), GetRValue(gif_background)) && close(GetGValue(c), GetGValue(gif_background)) &&
           close(GetBValue(c), GetBValue(gif_background));
}

template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// What the window shows, read back from its own surface.
struct window_pixels {
    explicit window_pixels(HWND w) : window(w), dc(::GetDC(w)) {}
    ~window_pixels() { ::ReleaseDC(window, dc); }
    COLORREF at(int x, int y) const { return ::GetPixel(dc, x, y); }
    int count(RECT area, COLORREF colour) const {
        int n = 0;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x) n += at(x, y) == colour;
        return n;
    }
    HWND window;
    HDC dc;
};

void repaint(HWND w) { ::RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }

TEST(SplashWindow, ShowsTheAnimationCentredWithItsCaptionAndText) {
    gif_wnd splash(data(animated_gif), ::GetModuleHandleW(nullptr));
    ASSERT_TRUE(splash.start(true));
    EXPECT_FALSE(splash.start(true)) << "a second start while the thread runs";
    const HWND w = splash.window();
    ASSERT_TRUE(w && ::IsWindow(w));
    EXPECT_TRUE(::IsWindowVisible(w));

    RECT r{};
    ::GetWindowRect(w, &r);
    EXPECT_EQ(r.right - r.left, 360);
    EXPECT_EQ(r.bottom - r.top, 130);
    EXPECT_EQ(r.left, (::GetSystemMetrics(SM_CXSCREEN) - 360) / 2);
    EXPECT_EQ(r.top, (::GetSystemMetrics(SM_CYSCREEN) - 130) / 2);
    wchar_t caption[64] = {};
    ::GetWindowTextW(w, caption, 64);
    EXPECT_STREQ(caption, L"Veltro Studio Self-Extractor");
    WCHAR cls[64] = {};
    ::GetClassNameW(w, cls, 64);
    EXPECT_STREQ(cls, L"qzrSfxSplashClass");

    // Nothing is drawn before the first status text; then the frame, and the
    // text in its colour inside the band under the picture.
    repaint(w);
    EXPECT_FALSE(is_background(window_pixels(w).at(4, 4)));
    splash.set_text(L"Veltro Studio... 42%");
    // The window's own thread paints; on a busy machine the first paint
    // with the text may come a little after the request.
    for (int i = 0; i < 100 && !is_background(window_pixels(w).at(4, 4)); ++i) {
        repaint(w);
        ::Sleep(20);
    }
    const window_pixels pixels(w);
    EXPECT_TRUE(is_background(pixels.at(4, 4)));
    EXPECT_GT(pixels.count(RECT{0, 100, 360, 130}, text_colour), 20);
    EXPECT_EQ(pixels.count(RECT{0, 0, 360, 100}, text_colour), 0);

    // Progress reaches the window's own thread, where its taskbar object
    // lives, once per change. Without a shell taskbar there is no progress
    // to show; no call may disturb the window.
    static std::vector<std::pair<DWORD, std::int32_t>> handed;
    static std::mutex handed_lock;
    static WNDPROC original = nullptr;
    original = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
        w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND h, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
            if (m == progress_message) {
                const std::lock_guard<std::mutex> guard(handed_lock);
                handed.emplace_back(::GetCurrentThreadId(), static_cast<std::int32_t>(wp));
            }
            return ::CallWindowProcW(original, h, m, wp, lp);
        })));
    splash.set_progress(50);
    splash.set_progress(50);
    splash.set_progress(-1);
    const DWORD window_thread = ::GetWindowThreadProcessId(w, nullptr);
    EXPECT_TRUE(eventually([&] {
        const std::lock_guard<std::mutex> guard(handed_lock);
        return handed.size() >= 2;
    }));
    std::this_thread::sleep_for(100ms);
    handed_lock.lock();
    EXPECT_EQ(handed, (std::vector<std::pair<DWORD, std::int32_t>>{{window_thread, 50}, {window_thread, -1}}));
    handed_lock.unlock();
    splash.prevent_pinning();
    EXPECT_TRUE(::IsWindowVisible(w));

    splash.stop();
    EXPECT_FALSE(::IsWindow(w));
    EXPECT_EQ(splash.window(), nullptr);
    splash.stop();  // twice is harmless
}

TEST(SplashWindow, ASingleFrameShowsItsTextWithoutATimer) {
    gif_wnd splash(data(single_frame_gif), ::GetModuleHandleW(nullptr));
    ASSERT_TRUE(splash.start(true));
    const HWND w = splash.window();
    ASSERT_TRUE(w);
    // No frame timer repaints it: the text itself must.
    splash.set_text(L"Veltro Studio... starting");
    EXPECT_TRUE(eventually([&] { return is_background(window_pixels(w).at(4, 4)); }));
    EXPECT_GT(window_pixels(w).count(RECT{0, 100, 360, 130}, text_colour), 20);
    splash.stop();
}

TEST(SplashWindow, WithoutAPictureThereIsNoWindowAndNothingFails) {
    gif_wnd splash(data(no_gif), ::GetModuleHandleW(nullptr));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(splash.start(true));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(splash.window(), nullptr);
    EXPECT_EQ(::FindWindowW(splash_class_name, nullptr), nullptr);
    splash.set_text(L"text");
    splash.set_progress(10);
    splash.show();
    splash.hide();
    splash.prevent_pinning();
    const auto stopping = std::chrono::steady_clock::now();
    splash.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 2s);
}

TEST(SplashWindow, TheHideMessageHidesOnlyWithItsParameter) {
    gif_wnd splash(data(animated_gif), ::GetModuleHandleW(nullptr));
    ASSERT_TRUE(splash.start(true));
    const HWND w = splash.window();
    const UINT hide = ::RegisterWindowMessageW(L"QzrSplashScreenHide");
    ::SendMessageW(w, hide, 0, 34);
    ::SendMessageW(w, hide, 35, 0);
    EXPECT_TRUE(::IsWindowVisible(w));
    ::SendMessageW(w, hide, 0, 35);
    EXPECT_FALSE(::IsWindowVisible(w));
    splash.show();
    EXPECT_TRUE(::IsWindowVisible(w));
    splash.hide();
    EXPECT_FALSE(::IsWindowVisible(w));
}

// A window thread that no longer answers is ended after ten seconds.
TEST(SplashWindow, StopEndsAStuckWindowThread) {
    gif_wnd splash(data(animated_gif), ::GetModuleHandleW(nullptr));
    ASSERT_TRUE(splash.start(true));
    const HWND w = splash.window();
    static const UINT stall = ::RegisterWindowMessageW(L"qzr-test-stall");
    static WNDPROC original = nullptr;
    original = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
        w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND h, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
            if (m == stall) ::Sleep(60'000);
            return ::CallWindowProcW(original, h, m, wp, lp);
        })));
    ::PostMessageW(w, stall, 0, 0);
    std::this_thread::sleep_for(200ms);
    const auto stopping = std::chrono::steady_clock::now();
    splash.stop();
    const auto took = std::chrono::steady_clock::now() - stopping;
    EXPECT_GE(took, 9s);
    EXPECT_LT(took, 20s);
}

// The dialog runs on a thread of its own here, as the test drives it.
struct dialog_run {
    explicit dialog_run(std::wstring title, std::int32_t language = 1033) {
        result = std::async(std::launch::async, [title, language] {
            qzr::sfx::confirm_dlg dlg(std::make_shared<qzr::sfx::sfx_translator::factory>(),
                                      ::GetModuleHandleW(nullptr));
            return dlg.show(title, language);
        });
        // The window is found as soon as it exists; it is laid out once its
        // last button exists.
        eventually([&] {
            window = ::FindWindowW(qzr::sfx::confirm_dlg_class_name, nullptr);
            int parts = 0;
            for (HWND c = window ? ::GetWindow(window, GW_CHILD) : nullptr; c; c = ::GetWindow(c, GW_HWNDNEXT)) ++parts;
            return parts == 6 && ::IsWindowVisible(window);
        });
    }
    // A failed check must not leave the dialog waiting for a choice.
    ~dialog_run() {
        if (result.valid() && result.wait_for(0s) != std::future_status::ready && window)
            ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
    std::int32_t finish(std::chrono::seconds limit = 5s) {
        if (result.wait_for(limit) != std::future_status::ready) return -100;
        return result.get();
    }
    std::future<std::int32_t> result;
    HWND window = nullptr;
};

struct child_info {
    std::wstring cls, text;
    RECT rect;  // in the dialog's client coordinates
    HWND handle;
};

std::vector<child_info> children(HWND dialog) {
    std::vector<child_info> out;
    for (HWND c = ::GetWindow(dialog, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        child_info i{};
        wchar_t buffer[256] = {};
        ::GetClassNameW(c, buffer, 256);
        i.cls = buffer;
        ::GetWindowTextW(c, buffer, 256);
        i.text = buffer;
        ::GetWindowRect(c, &i.rect);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&i.rect), 2);
        i.handle = c;
        out.push_back(i);
    }
    return out;
}

int line_height(HWND label) {
    const HDC dc = ::GetDC(label);
    const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(label, WM_GETFONT, 0, 0)));
    SIZE s{};
    ::GetTextExtentPoint32W(dc, L"Wg", 2, &s);
    ::SelectObject(dc, old);
    ::ReleaseDC(label, dc);
    return s.cy;
}

TEST(ConfirmDialog, PartsFitTheirTextsAndALongTitleWidensTheWindow) {
    dialog_run shortish(L"Veltro");
    ASSERT_TRUE(shortish.window);
    RECT short_rect{};
    ::GetWindowRect(shortish.window, &short_rect);
    RECT client{};
    ::GetClientRect(shortish.window, &client);
    const auto parts = children(shortish.window);
    ASSERT_EQ(parts.size(), 6u);
    const child_info* second = nullptr;
    for (const auto& p : parts) {
        EXPECT_GE(p.rect.left, 0);
        EXPECT_LE(p.rect.right, client.right) << std::string(p.text.begin(), p.text.end());
        EXPECT_LE(p.rect.bottom, client.bottom);
        if (p.text.find(L"coffee") != std::wstring::npos) second = &p;
    }
    ASSERT_NE(second, nullptr);
    // Both lines of the second text fit in its label.
    EXPECT_EQ(second->text, L"Feel free to surf the web or grab a coffee.\nWe'll let you know when we're done.");
    EXPECT_GE(second->rect.bottom - second->rect.top, 2 * line_height(second->handle));
    EXPECT_EQ(parts[4].text, L"Install");
    EXPECT_EQ(parts[5].text, L"Cancel");
    ::PostMessageW(shortish.window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(shortish.finish(), qzr::sfx::confirm_dlg_intf::cancel);

    // Long enough that the title line, in the largest font, is wider than
    // the question that repeats it.
    const std::wstring long_title =
        L"Veltro Studio Professional Edition with Every Extension, Every Template and Every Sample Project "
        L"Included for Teams of Any Size";
    dialog_run longer(long_title);
    ASSERT_TRUE(longer.window);
    RECT long_rect{};
    ::GetWindowRect(longer.window, &long_rect);
    EXPECT_GT(long_rect.right - long_rect.left, short_rect.right - short_rect.left);
    RECT long_client{};
    ::GetClientRect(longer.window, &long_client);
    for (const auto& p : children(longer.window)) EXPECT_LE(p.rect.right, long_client.right);
    ::PostMessageW(longer.window, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(longer.finish(), qzr::sfx::confirm_dlg_intf::install);
}

// Closing the window without a choice (the window menu, Alt+F4) is Cancel,
// and the dialog ends instead of waiting forever.
TEST(ConfirmDialog, ClosingTheWindowIsCancel) {
    dialog_run closed(L"Veltro Studio");
    ASSERT_TRUE(closed.window);
    ::PostMessageW(closed.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(closed.finish(), qzr::sfx::confirm_dlg_intf::cancel);

    dialog_run destroyed(L"Veltro Studio");
    ASSERT_TRUE(destroyed.window);
    ::PostMessageW(destroyed.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(destroyed.finish(), qzr::sfx::confirm_dlg_intf::cancel);
}

TEST(ConfirmDialog, ButtonsAnswerInTheUsersLanguage) {
    dialog_run german(L"Veltro Studio", 1031);
    ASSERT_TRUE(german.window);
    const auto parts = children(german.window);
    ASSERT_EQ(parts.size(), 6u);
    EXPECT_EQ(parts[2].text, L"Bereit, Veltro Studio zu installieren?");
    EXPECT_EQ(parts[4].text, L"Installieren");
    EXPECT_EQ(parts[5].text, L"Abbrechen");
    ::SendMessageW(parts[4].handle, BM_CLICK, 0, 0);
    EXPECT_EQ(german.finish(), qzr::sfx::confirm_dlg_intf::install);
}

}  // namespace
