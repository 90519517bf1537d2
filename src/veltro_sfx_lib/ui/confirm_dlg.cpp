#include "veltro_sfx_lib/ui/confirm_dlg.hpp"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "log/logger.hpp"

namespace qzr::sfx {

namespace {

constexpr int icon_resource_id = 128;
// The structure as Vista and later define it (with the padded border).
constexpr UINT nonclient_metrics_size = 504;

// The widest line and the sum of the line heights; empty lines drop out.
confirm_dlg_layout::size measure(HDC dc, HGDIOBJ font, const std::wstring& text) {
    win::selected_object selected(dc, font);
    confirm_dlg_layout::size total;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) {
            SIZE line{};
            ::GetTextExtentPoint32W(dc, text.data() + start, static_cast<int>(end - start), &line);
            total.cx = std::max(total.cx, static_cast<int>(line.cx));
            total.cy += line.cy;
        }
        start = end + 1;
    }
    return total;
}

HWND child(HWND parent, HINSTANCE instance, const wchar_t* cls, const std::wstring& text, DWORD style, const RECT& r,
           HGDIOBJ font, int id = 0) {
    const HWND w = ::CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                                     r.right - r.left, r.bottom - r.top, parent,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (w && font) ::SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return w;
}

RECT at(const confirm_dlg_layout::box& b) noexcept { return RECT{b.x, b.y, b.x + b.cx, b.y + b.cy}; }

}  // namespace

std::shared_ptr<confirm_dlg_intf> confirm_dlg::factory::create() const {
    return std::make_shared<confirm_dlg>(translators_, ::GetModuleHandleW(nullptr));
}

confirm_dlg::confirm_dlg(std::shared_ptr<const sfx_translator::factory> translators, HINSTANCE instance)
    : translators_(std::move(translators)), instance_(instance) {}

confirm_dlg::~confirm_dlg() {
    if (window_ && ::IsWindow(window_)) ::DestroyWindow(window_);
}

std::int32_t confirm_dlg::show(const std::wstring& title, std::int32_t language) {
    try {
        title_ = title;
        translator_ = translators_->create(language);
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);

        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &confirm_dlg::window_proc;
        wc.hInstance = instance_;
        wc.hIcon = static_cast<HICON>(
            ::LoadImageW(instance_, MAKEINTRESOURCEW(icon_resource_id), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
        wc.hIconSm = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(icon_resource_id), IMAGE_ICON,
                                                     ::GetSystemMetrics(SM_CXSMICON),
                                                     ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
        wc.lpszClassName = confirm_dlg_class_name;
        if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            QZR_LOG_ERROR(L"Registering the confirmation dialog's window class failed (%u)", ::GetLastError());
            return not_shown;
        }

        result_ = cancel;
        window_ = ::CreateWindowExW(0, confirm_dlg_class_name, title_.c_str(), WS_POPUPWINDOW | WS_VISIBLE, 0, 0, 0,
                                    0, nullptr, nullptr, instance_, this);
        if (!window_) {
            QZR_LOG_ERROR(L"Creating the confirmation dialog failed (%u)", ::GetLastError());
            return not_shown;
        }

        MSG msg{};
        BOOL got;
        while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) != 0) {
            if (got == -1) continue;
            if (window_ && ::IsDialogMessageW(window_, &msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        return static_cast<std::int32_t>(msg.wParam);
    } catch (const std::exception& e) {
        QZR_LOG_ERROR(L"Showing the confirmation dialog failed: %s", e.what());
        return not_shown;
    }
}

LRESULT CALLBACK confirm_dlg::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<confirm_dlg*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<confirm_dlg*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->on_message(window, message, wparam, lparam)
                : ::DefWindowProcW(window, message, wparam, lparam);
}

LRESULT confirm_dlg::on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        try {
            return on_create(window) ? 0 : -1;
        } catch (const std::exception& e) {
            QZR_LOG_ERROR(L"Laying out the confirmation dialog failed: %s", e.what());
            return -1;
        }
    case WM_COMMAND: {
        const auto from = reinterpret_cast<HWND>(lparam);
        const WORD command = LOWORD(wparam);
        if ((from && from == install_) || (!from && command == IDOK)) {
            finish(window, install);
            return 0;
        }
        if ((from && from == cancel_) || (!from && command == IDCANCEL)) {
            finish(window, cancel);
            return 0;
        }
        break;
    }
    case WM_DESTROY:
        destroy_parts();
        window_ = nullptr;
        // Also ends the dialog when it was closed by other means than a
        // choice: a message loop without a quit message would wait forever.
        ::PostQuitMessage(result_);
        return 0;
    case WM_NCDESTROY:
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    default:
        break;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
}

void confirm_dlg::finish(HWND window, std::int32_t result) {
    result_ = result;
    ::DestroyWindow(window);
}

bool confirm_dlg::on_create(HWND window) {
    NONCLIENTMETRICSW metrics{};
    static_assert(sizeof metrics >= nonclient_metrics_size);
    metrics.cbSize = nonclient_metrics_size;
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, nonclient_metrics_size, &metrics, 0)) {
        QZR_LOG_ERROR(L"Reading the system's message font failed (%u)", ::GetLastError());
        return false;
    }
    LOGFONTW font = metrics.lfMessageFont;
    message_font_.reset(::CreateFontIndirectW(&font));
    font.lfHeight = static_cast<LONG>(font.lfHeight * 1.5);
    large_font_.reset(::CreateFontIndirectW(&font));
    font.lfHeight = static_cast<LONG>(font.lfHeight * 1.2);
    larger_font_.reset(::CreateFontIndirectW(&font));

    const std::wstring first = translator_->translate(L"@Sfx_PPI_Desc1", {title_});
    const std::wstring second = translator_->translate(L"@Sfx_PPI_Desc2");

    // The message font already has the system's DPI in it; the frame
    // around the texts gets it here (the program is DPI-aware, so nothing
    // scales it for us).
    const HDC dc = ::GetDC(window);
    const auto layout = confirm_dlg_layout::compute(measure(dc, larger_font_.get(), title_),
                                                    measure(dc, large_font_.get(), first),
                                                    measure(dc, message_font_.get(), second),
                                                    ::GetDeviceCaps(dc, LOGPIXELSY));
    ::ReleaseDC(window, dc);

    icon_.reset(static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(icon_resource_id), IMAGE_ICON,
                                                layout.icon.cx, layout.icon.cy, 0)));
    icon_picture_ = child(window, instance_, L"STATIC", L"", SS_ICON, at(layout.icon), nullptr);
    if (icon_picture_ && icon_) ::SendMessageW(icon_picture_, STM_SETICON, reinterpret_cast<WPARAM>(icon_.get()), 0);
    title_label_ = child(window, instance_, L"STATIC", title_, SS_NOPREFIX, at(layout.title), larger_font_.get());
    first_text_ = child(window, instance_, L"STATIC", first, SS_NOPREFIX, at(layout.first_text), large_font_.get());
    second_text_ =
        child(window, instance_, L"STATIC", second, SS_NOPREFIX, at(layout.second_text), message_font_.get());
    install_ = child(window, instance_, L"BUTTON", translator_->translate(L"@Sfx_PPI_Install"),
                     BS_DEFPUSHBUTTON | WS_TABSTOP, at(layout.install), message_font_.get(), IDOK);
    cancel_ = child(window, instance_, L"BUTTON", translator_->translate(L"@Sfx_PPI_Cancel"), WS_TABSTOP,
                    at(layout.cancel), message_font_.get(), IDCANCEL);

    RECT work{};
    if (::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
        ::SetWindowPos(window, nullptr, (work.right - layout.window.cx) / 2, (work.bottom - layout.window.cy) / 2,
                       layout.window.cx, layout.window.cy, SWP_NOZORDER);
    } else {
        ::SetWindowPos(window, nullptr, 0, 0, layout.window.cx, layout.window.cy, SWP_NOZORDER | SWP_NOMOVE);
    }
    if (install_) ::SetFocus(install_);
    return true;
}

void confirm_dlg::destroy_parts() {
    for (HWND* part : {&icon_picture_, &title_label_, &first_text_, &second_text_, &install_, &cancel_}) {
        if (*part) ::DestroyWindow(*part);
        *part = nullptr;
    }
    message_font_.reset();
    large_font_.reset();
    larger_font_.reset();
    icon_.reset();
}

}  // namespace qzr::sfx
