#include "veltro_sfx_lib/ui/confirm_dlg.hpp"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "log/logger.hpp"

namespace qzr::sfx {

namespace {

constexpr int icon_resource_id = 128;
constexpr int icon_size = 48;
constexpr int margin = 16;
constexpr int button_height = 32;
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

RECT at(int x, int y, int cx, int cy) noexcept { return RECT{x, y, x + cx, y + cy}; }

}  // namespace

confirm_dlg_layout confirm_dlg_layout::compute(size title_text, size first_text, size second_text) noexcept {
    confirm_dlg_layout l{};
    const int content_width =
        std::max({title_text.cx + icon_size + 2 * margin, first_text.cx + margin, second_text.cx + margin});
    const int buttons_top = first_text.cy + second_text.cy + 104;
    const int button_width = static_cast<int>((content_width - 2 * margin) / 2 * 1.05);
    l.title = at(icon_size + 2 * margin, (icon_size - title_text.cy) / 2 + margin, title_text.cx, title_text.cy);
    l.first_text = at(margin, icon_size + 2 * margin, first_text.cx, first_text.cy);
    l.second_text = at(margin, first_text.cy + 88, second_text.cx, second_text.cy);
    l.install = at(margin, buttons_top, button_width, button_height);
    l.cancel = at(button_width + 2 * margin, buttons_top, button_width, button_height);
    l.window = {2 * button_width + 3 * margin, buttons_top + 3 * margin};
    return l;
}

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

    const HDC dc = ::GetDC(window);
    const auto layout = confirm_dlg_layout::compute(measure(dc, larger_font_.get(), title_),
                                                    measure(dc, large_font_.get(), first),
                                                    measure(dc, message_font_.get(), second));
    ::ReleaseDC(window, dc);

    icon_.reset(static_cast<HICON>(
        ::LoadImageW(instance_, MAKEINTRESOURCEW(icon_resource_id), IMAGE_ICON, icon_size, icon_size, 0)));
    icon_picture_ = child(window, instance_, L"STATIC", L"", SS_ICON, at(margin, margin, icon_size, icon_size), nullptr);
    if (icon_picture_ && icon_) ::SendMessageW(icon_picture_, STM_SETICON, reinterpret_cast<WPARAM>(icon_.get()), 0);
    title_label_ = child(window, instance_, L"STATIC", title_, SS_NOPREFIX, layout.title, larger_font_.get());
    first_text_ = child(window, instance_, L"STATIC", first, SS_NOPREFIX, layout.first_text, large_font_.get());
    second_text_ = child(window, instance_, L"STATIC", second, SS_NOPREFIX, layout.second_text, message_font_.get());
    install_ = child(window, instance_, L"BUTTON", translator_->translate(L"@Sfx_PPI_Install"),
                     BS_DEFPUSHBUTTON | WS_TABSTOP, layout.install, message_font_.get(), IDOK);
    cancel_ = child(window, instance_, L"BUTTON", translator_->translate(L"@Sfx_PPI_Cancel"), WS_TABSTOP,
                    layout.cancel, message_font_.get(), IDCANCEL);

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
