#include "veltro_sfx_lib/ui/confirm_dlg_layout.hpp"

#include <algorithm>

namespace qzr::sfx {

namespace {
constexpr int base_dpi = 96;
}  // namespace

int confirm_dlg_layout::scale(int value, int dpi) noexcept {
    if (dpi <= 0) dpi = base_dpi;
    const long long scaled = static_cast<long long>(value) * dpi;
    return static_cast<int>((scaled + (scaled < 0 ? -base_dpi / 2 : base_dpi / 2)) / base_dpi);
}

confirm_dlg_layout confirm_dlg_layout::compute(size title_text, size first_text, size second_text, int dpi) noexcept {
    const int icon = scale(icon_size, dpi), m = scale(margin, dpi), between = scale(gap, dpi),
              button = scale(button_height, dpi);
    const int content_width = std::max({title_text.cx + icon + 2 * m, first_text.cx + m, second_text.cx + m});
    const int text_top = icon + 2 * m;
    const int second_top = text_top + first_text.cy + between;
    const int buttons_top = second_top + second_text.cy + m;
    const int button_width = static_cast<int>((content_width - 2 * m) / 2 * 1.05);
    confirm_dlg_layout l{};
    l.icon = {m, m, icon, icon};
    l.title = {icon + 2 * m, (icon - title_text.cy) / 2 + m, title_text.cx, title_text.cy};
    l.first_text = {m, text_top, first_text.cx, first_text.cy};
    l.second_text = {m, second_top, second_text.cx, second_text.cy};
    l.install = {m, buttons_top, button_width, button};
    l.cancel = {button_width + 2 * m, buttons_top, button_width, button};
    l.window = {2 * button_width + 3 * m, buttons_top + 3 * m};
    return l;
}

}  // namespace qzr::sfx
