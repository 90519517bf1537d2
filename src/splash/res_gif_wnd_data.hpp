// Splash contents taken from the executable's resources: the GIF, the icon,
// the caption and the product title.
#pragma once

#include <windows.h>

#include "splash/gif_wnd_intf.hpp"
#include "win/handle.hpp"

namespace qzr::features::splash {

inline constexpr int gif_resource_id = 200;
inline constexpr wchar_t gif_resource_type[] = L"GIF";
inline constexpr int icon_resource_id = 128;
inline constexpr std::uint32_t default_text_colour = 0xFEFEFE;

class res_gif_wnd_data final : public gif_wnd_data_intf {
public:
    struct factory final : gif_wnd_data_intf::factory {
        std::shared_ptr<gif_wnd_data_intf> create(const std::wstring& caption, const std::wstring& title) const override;
    };

    res_gif_wnd_data(HINSTANCE instance, int gif_id, const wchar_t* gif_type, int icon_id, std::wstring caption,
                     std::wstring title);

    byte_view gif() const override;
    void* icon() const override { return icon_.get(); }
    std::wstring caption() const override { return caption_; }
    std::wstring title() const override { return title_; }
    int text_top() const override { return 100; }
    std::uint32_t text_colour() const override { return text_colour_; }
    void set_text_colour(std::uint32_t colour) override { text_colour_ = colour; }

private:
    HINSTANCE instance_;
    int gif_id_;
    const wchar_t* gif_type_;
    win::icon_handle icon_;
    std::wstring caption_;
    std::wstring title_;
    std::uint32_t text_colour_ = default_text_colour;
};

}  // namespace qzr::features::splash
