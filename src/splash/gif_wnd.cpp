#include "splash/gif_wnd.hpp"

#include <propsys.h>

#include <mutex>

#include "environment/os_info.hpp"
#include "log/logger.hpp"
#include "splash/gdiplus_api.hpp"
#include "win/system_library.hpp"

namespace qzr::features::splash {

namespace {

constexpr DWORD ready_wait_ms = 50'000'000;
constexpr DWORD stop_wait_ms = 10'000;

// {9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}, 9: the shell's prevent-pinning
// property of a window's application identity.
constexpr PROPERTYKEY prevent_pinning_key = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 9};
constexpr CLSID taskbar_list_clsid = {0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
constexpr IID taskbar_list3_iid = {0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};
constexpr IID property_store_iid = {0x886D8EEB, 0x8CF2, 0x4446, {0x8D, 0x02, 0xCD, 0xBA, 0x1D, 0xBD, 0xCF, 0x99}};

bool windows_7_or_later() noexcept {
    try {
        const auto& os = environment::os_info();
        return os.major > 6 || (os.major == 6 && os.minor >= 1);
    } catch (const std::exception&) {
        return false;
    }
}

// Lets a message from processes of lower integrity through to the window;
// looked up by name, since older systems lack it.
void allow_message(HWND window, UINT message) {
    using change_filter_fn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    const auto change_filter = user32 ? reinterpret_cast<change_filter_fn>(reinterpret_cast<void*>(
                                            ::GetProcAddress(user32, "ChangeWindowMessageFilterEx")))
                                      : nullptr;
    if (change_filter) change_filter(window, message, 1 /* MSGFLT_ALLOW */, nullptr);
}

}  // namespace

UINT splash_hide_message() noexcept {
    static const UINT message = ::RegisterWindowMessageW(L"QzrSplashScreenHide");
    return message;
}

UINT taskbar_button_created_message() noexcept {
    static const UINT message = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
    return message;
}

std::shared_ptr<gif_wnd_intf> gif_wnd::factory::create(const std::shared_ptr<gif_wnd_data_intf>& data) const {
    return std::make_shared<gif_wnd>(data, ::GetModuleHandleW(nullptr));
}

gif_wnd::gdiplus_session::gdiplus_session() {
    const gdiplus_functions* g = gdiplus();
    if (!g) return;
    const Gdiplus::GdiplusStartupInput input;
    if (g->GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) token = 0;
}

gif_wnd::gdiplus_session::~gdiplus_session() {
    if (token) gdiplus()->GdiplusShutdown(token);
}

gif_wnd::gif_wnd(std::shared_ptr<gif_wnd_data_intf> data, HINSTANCE instance)
    : data_(std::move(data)), ready_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)), instance_(instance) {
    // Registered before any window exists, so that a hide request sent the
    // moment the window appears is already known.
    splash_hide_message();
    taskbar_button_created_message();
}

gif_wnd::~gif_wnd() {
    stop();
    release_taskbar();
    // GDI+ objects go before the session that made them.
    frames_.clear();
    if (image_) gdiplus()->GdipDisposeImage(image_);
    if (stream_) stream_->Release();
}

bool gif_wnd::start(bool show) {
    if (thread_) return false;
    show_at_start_ = show;
    thread_.reset(::CreateThread(nullptr, 0, &gif_wnd::thread_main, this, 0, nullptr));
    if (!thread_) return false;
    ::WaitForSingleObject(ready_.get(), ready_wait_ms);
    return true;
}

void gif_wnd::stop() {
    if (!thread_) return;
    if (const HWND window = window_.exchange(nullptr); window && ::IsWindow(window))
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(thread_.get(), stop_wait_ms) != WAIT_OBJECT_0) {
        QZR_LOG_WARNING(L"Splash window thread did not end in time; terminating it.");
        ::TerminateThread(thread_.get(), 1);
    }
    thread_.reset();
}

void gif_wnd::show() {
    if (const HWND window = window_.load(); window && ::IsWindow(window)) ::ShowWindow(window, SW_SHOW);
}

void gif_wnd::hide() {
    if (const HWND window = window_.load(); window && ::IsWindow(window)) ::ShowWindow(window, SW_HIDE);
}

void gif_wnd::set_text(const std::wstring& text) {
    {
        std::lock_guard<win::critical_section> guard(text_lock_);
        if (text_set_ && text_ == text) return;
        text_ = text;
        text_set_ = true;
    }
    // A picture without frames to turn has no timer that would paint it.
    if (const HWND window = window_.load()) ::InvalidateRect(window, nullptr, FALSE);
}

// Progress comes from any thread; the taskbar object belongs to the
// window's, which gets it as a message (one per change: a download reports
// every chunk).
void gif_wnd::set_progress(std::int32_t percent) {
    if (!windows_7_or_later() || posted_progress_.exchange(percent) == percent) return;
    if (const HWND window = window_.load())
        ::PostMessageW(window, progress_message, static_cast<WPARAM>(static_cast<std::uint32_t>(percent)), 0);
}

void gif_wnd::show_progress(HWND window, std::int32_t percent) {
    std::lock_guard<win::critical_section> guard(taskbar_lock_);
    if (!taskbar_) return;
    if (static_cast<std::uint32_t>(percent) > 100) {
        taskbar_->SetProgressState(window, TBPF_INDETERMINATE);
    } else {
        taskbar_->SetProgressState(window, TBPF_NORMAL);
        taskbar_->SetProgressValue(window, static_cast<ULONGLONG>(percent), 100);
    }
}

std::int32_t gif_wnd::prevent_pinning() {
    using get_store_fn = HRESULT(WINAPI*)(HWND, REFIID, void**);
    const auto get_store =
        win::function_of<get_store_fn>(win::load_system_library(L"shell32.dll"), "SHGetPropertyStoreForWindow");
    if (!get_store) return 0;
    IPropertyStore* store = nullptr;
    HRESULT hr = get_store(window_.load(), property_store_iid, reinterpret_cast<void**>(&store));
    if (SUCCEEDED(hr) && store) {
        PROPVARIANT value;
        ::PropVariantInit(&value);
        value.vt = VT_BOOL;
        value.boolVal = VARIANT_TRUE;
        hr = store->SetValue(prevent_pinning_key, value);
        store->Release();
    }
    return static_cast<std::int32_t>(hr);
}

DWORD WINAPI gif_wnd::thread_main(void* self) { return static_cast<gif_wnd*>(self)->run_window_thread(); }

DWORD gif_wnd::run_window_thread() {
    // The taskbar interface is a COM object of this thread.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &gif_wnd::window_proc;
    wc.hInstance = instance_;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = static_cast<HICON>(data_->icon());
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(1));
    wc.lpszClassName = splash_class_name;
    ::RegisterClassExW(&wc);

    const HWND window = ::CreateWindowExW(0, splash_class_name, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                          instance_, this);
    DWORD exit_code = 0;
    if (window) {
        if (windows_7_or_later()) allow_message(window, taskbar_button_created_message());
        if (show_at_start_) {
            ::ShowWindow(window, SW_SHOW);
            ::UpdateWindow(window);
        }
        ready_signalled_ = true;
        ::SetEvent(ready_.get());

        MSG msg;
        BOOL got;
        while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) != 0) {
            if (got == -1) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        exit_code = static_cast<DWORD>(msg.wParam);
    }
    // Without a window no quit message ever comes: the thread ends here
    // instead of waiting for one.
    ::UnregisterClassW(splash_class_name, instance_);
    if (!ready_signalled_) ::SetEvent(ready_.get());
    if (SUCCEEDED(com)) ::CoUninitialize();
    return exit_code;
}

LRESULT CALLBACK gif_wnd::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<gif_wnd*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window_.store(window);
    }
    auto* self = reinterpret_cast<gif_wnd*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->on_message(window, message, wparam, lparam)
                : ::DefWindowProcW(window, message, wparam, lparam);
}

LRESULT gif_wnd::on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        return on_create(window) ? 0 : -1;
    case WM_TIMER:
        if (wparam == timer_id) {
            on_timer(window);
            return 0;
        }
        break;
    case WM_PAINT:
        on_paint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case progress_message:
        show_progress(window, static_cast<std::int32_t>(static_cast<std::uint32_t>(wparam)));
        return 0;
    case WM_CLOSE:
        ::KillTimer(window, timer_id);
        break;
    case WM_DESTROY:
        release_taskbar();
        ::PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        window_.store(nullptr);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    default:
        if (message == splash_hide_message()) {
            if (lparam == splash_hide_lparam) ::ShowWindow(window, SW_HIDE);
            return 0;
        }
        if (message == taskbar_button_created_message() && windows_7_or_later()) {
            create_taskbar();
            return 0;
        }
        break;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
}

bool gif_wnd::on_create(HWND window) {
    const byte_view gif = data_->gif();
    if (gif.empty()) return false;

    // GDI+ decodes lazily from the stream: it lives as long as the image.
    const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, gif.size());
    if (!memory) return false;
    if (void* p = ::GlobalLock(memory)) {
        std::memcpy(p, gif.data(), gif.size());
        ::GlobalUnlock(memory);
    }
    if (FAILED(::CreateStreamOnHGlobal(memory, TRUE, &stream_))) {
        ::GlobalFree(memory);
        return false;
    }
    if (!gdiplus_.token) return false;
    const gdiplus_functions& g = *gdiplus();
    UINT width = 0, height = 0;
    if (g.GdipLoadImageFromStream(stream_, &image_) != Gdiplus::Ok || !image_ ||
        g.GdipGetImageWidth(image_, &width) != Gdiplus::Ok || g.GdipGetImageHeight(image_, &height) != Gdiplus::Ok ||
        width == 0 || height == 0)
        return false;

    UINT dimensions = 0;
    if (g.GdipImageGetFrameDimensionsCount(image_, &dimensions) == Gdiplus::Ok && dimensions > 0 &&
        g.GdipImageGetFrameDimensionsList(image_, &dimension_, 1) == Gdiplus::Ok &&
        g.GdipImageGetFrameCount(image_, &dimension_, &frame_count_) != Gdiplus::Ok)
        frame_count_ = 0;
    if (frame_count_ == 0) frame_count_ = 1;
    if (UINT size = 0; g.GdipGetPropertyItemSize(image_, PropertyTagFrameDelay, &size) == Gdiplus::Ok &&
                       size >= sizeof(Gdiplus::PropertyItem)) {
        std::vector<std::uint8_t> buffer(size);
        auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
        if (g.GdipGetPropertyItem(image_, PropertyTagFrameDelay, size, item) == Gdiplus::Ok && item->value) {
            const auto* values = static_cast<const std::uint8_t*>(item->value);
            for (ULONG i = 0; i + 4 <= item->length; i += 4) {
                UINT delay;
                std::memcpy(&delay, values + i, sizeof delay);
                delays_.push_back(delay);
            }
        }
    }

    text_top_ = data_->text_top();
    width_ = static_cast<int>(width);
    height_ = static_cast<int>(height);
    ::SetWindowPos(window, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width_) / 2,
                   (::GetSystemMetrics(SM_CYSCREEN) - height_) / 2, width_, height_, SWP_NOZORDER | SWP_NOACTIVATE);
    if (const auto icon = reinterpret_cast<LPARAM>(data_->icon())) {
        ::SendMessageW(window, WM_SETICON, ICON_BIG, icon);
        ::SendMessageW(window, WM_SETICON, ICON_SMALL, icon);
    }
    if (const std::wstring caption = data_->caption(); !caption.empty()) ::SetWindowTextW(window, caption.c_str());

    const HDC screen = ::GetDC(window);
    for (UINT i = 0; i < frame_count_; ++i) {
        if (frame_count_ > 1) g.GdipImageSelectActiveFrame(image_, &dimension_, i);
        win::gdi_object bitmap(::CreateCompatibleBitmap(screen, width_, height_));
        win::memory_dc dc(::CreateCompatibleDC(screen));
        if (bitmap && dc) {
            win::selected_object selected(dc.get(), bitmap.get());
            Gdiplus::GpGraphics* graphics = nullptr;
            if (g.GdipCreateFromHDC(dc.get(), &graphics) == Gdiplus::Ok && graphics) {
                g.GdipDrawImageRectI(graphics, image_, 0, 0, width_, height_);
                g.GdipDeleteGraphics(graphics);
            }
        }
        frames_.push_back(std::move(bitmap));
    }
    ::ReleaseDC(window, screen);
    frame_ = 0;
    if (frame_count_ > 1) {
        g.GdipImageSelectActiveFrame(image_, &dimension_, 0);
        ::SetTimer(window, timer_id, frame_delay_ms(0), nullptr);
    }
    font_.reset(::CreateFontW(-13, 0, 0, 0, 100, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
    if (windows_7_or_later()) allow_message(window, splash_hide_message());
    return true;
}

UINT gif_wnd::frame_delay_ms(UINT frame) const { return frame < delays_.size() ? delays_[frame] * 10 : 0; }

void gif_wnd::on_timer(HWND window) {
    ::KillTimer(window, timer_id);
    frame_ = (frame_ + 1) % frame_count_;
    gdiplus()->GdipImageSelectActiveFrame(image_, &dimension_, frame_);
    ::SetTimer(window, timer_id, frame_delay_ms(frame_), nullptr);
    ::InvalidateRect(window, nullptr, FALSE);
}

void gif_wnd::on_paint(HWND window) {
    PAINTSTRUCT ps;
    const HDC dc = ::BeginPaint(window, &ps);
    std::wstring text;
    {
        std::lock_guard<win::critical_section> guard(text_lock_);
        text = text_;
    }
    // Until the first status text the window shows nothing at all.
    if (!text.empty() && frame_ < frames_.size() && frames_[frame_]) {
        win::memory_dc back(::CreateCompatibleDC(dc));
        win::gdi_object back_bitmap(::CreateCompatibleBitmap(dc, width_, height_));
        win::memory_dc frame(::CreateCompatibleDC(dc));
        if (back && back_bitmap && frame) {
            win::selected_object back_selected(back.get(), back_bitmap.get());
            {
                win::selected_object frame_selected(frame.get(), frames_[frame_].get());
                ::BitBlt(back.get(), 0, 0, width_, height_, frame.get(), 0, 0, SRCCOPY);
            }
            ::SetBkMode(back.get(), TRANSPARENT);
            ::SetTextColor(back.get(), static_cast<COLORREF>(data_->text_colour()));
            win::selected_object font_selected(back.get(), font_.get());
            RECT area{0, text_top_, width_, height_};
            ::DrawTextW(back.get(), text.c_str(), -1, &area, DT_CENTER | DT_NOPREFIX);
            ::BitBlt(dc, 0, 0, width_, height_, back.get(), 0, 0, SRCCOPY);
        }
    }
    ::EndPaint(window, &ps);
}

void gif_wnd::create_taskbar() {
    release_taskbar();
    ITaskbarList3* taskbar = nullptr;
    if (FAILED(::CoCreateInstance(taskbar_list_clsid, nullptr, CLSCTX_ALL, taskbar_list3_iid,
                                  reinterpret_cast<void**>(&taskbar))) ||
        !taskbar) {
        QZR_LOG_ERROR(L"Create taskbar interface fail.");
        return;
    }
    if (FAILED(taskbar->HrInit())) {
        QZR_LOG_ERROR(L"Initialize taskbar interface fail");
        taskbar->Release();
        return;
    }
    std::lock_guard<win::critical_section> guard(taskbar_lock_);
    taskbar_ = taskbar;
}

void gif_wnd::release_taskbar() {
    std::lock_guard<win::critical_section> guard(taskbar_lock_);
    if (taskbar_) {
        taskbar_->Release();
        taskbar_ = nullptr;
    }
}

}  // namespace qzr::features::splash
