// The install confirmation dialog, built by hand (no dialog template): the
// product icon and title, two lines of text and the buttons Install and
// Cancel, sized to its texts in the user's language.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "veltro_sfx_lib/ui/confirm_dlg_intf.hpp"
#include "veltro_sfx_lib/ui/confirm_dlg_layout.hpp"
#include "veltro_sfx_lib/ui/sfx_translator.hpp"
#include "win/handle.hpp"

namespace qzr::sfx {

inline constexpr wchar_t confirm_dlg_class_name[] = L"{32f2b598-6055-4f5b-b0eb-fed112efa9b7}";

class confirm_dlg final : public confirm_dlg_intf {
public:
    struct factory final : confirm_dlg_intf::factory {
        explicit factory(std::shared_ptr<const sfx_translator::factory> translators)
            : translators_(std::move(translators)) {}
        std::shared_ptr<confirm_dlg_intf> create() const override;

    private:
        std::shared_ptr<const sfx_translator::factory> translators_;
    };

    confirm_dlg(std::shared_ptr<const sfx_translator::factory> translators, HINSTANCE instance);
    ~confirm_dlg() override;
    confirm_dlg(const confirm_dlg&) = delete;
    confirm_dlg& operator=(const confirm_dlg&) = delete;

    std::int32_t show(const std::wstring& title, std::int32_t language) override;

private:
    static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    bool on_create(HWND window);
    void finish(HWND window, std::int32_t result);
    void destroy_parts();

    std::shared_ptr<const sfx_translator::factory> translators_;
    std::shared_ptr<sfx_translator_intf> translator_;
    std::wstring title_;
    HWND window_ = nullptr;
    HINSTANCE instance_;
    win::icon_handle icon_;
    HWND icon_picture_ = nullptr;
    HWND title_label_ = nullptr;
    HWND first_text_ = nullptr;
    HWND second_text_ = nullptr;
    HWND install_ = nullptr;
    HWND cancel_ = nullptr;
    win::gdi_object message_font_;
    win::gdi_object large_font_;   // 1.5 x the message font
    win::gdi_object larger_font_;  // 1.8 x the message font
    // Closing the window any other way than by the buttons, Enter or Escape
    // (Alt+F4, the window menu) is the user declining: Cancel.
    std::int32_t result_ = cancel;
};

}  // namespace qzr::sfx
