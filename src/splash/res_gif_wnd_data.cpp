#include "splash/res_gif_wnd_data.hpp"

namespace qzr::features::splash {

std::shared_ptr<gif_wnd_data_intf> res_gif_wnd_data::factory::create(const std::wstring& caption,
                                                                     const std::wstring& title) const {
    return std::make_shared<res_gif_wnd_data>(::GetModuleHandleW(nullptr), gif_resource_id, gif_resource_type,
                                              icon_resource_id, caption, title);
}

res_gif_wnd_data::res_gif_wnd_data(HINSTANCE instance, int gif_id, const wchar_t* gif_type, int icon_id,
                                   std::wstring caption, std::wstring title)
    : instance_(instance),
      gif_id_(gif_id),
      gif_type_(gif_type),
      icon_(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(icon_id), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE))),
      caption_(std::move(caption)),
      title_(std::move(title)) {}

byte_view res_gif_wnd_data::gif() const {
    // Resources of a loaded image stay mapped as long as the image.
    const HRSRC res = ::FindResourceW(instance_, MAKEINTRESOURCEW(gif_id_), gif_type_);
    if (!res) return {};
    const HGLOBAL loaded = ::LoadResource(instance_, res);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data) return {};
    return byte_view(data, ::SizeofResource(instance_, res));
}

}  // namespace qzr::features::splash
