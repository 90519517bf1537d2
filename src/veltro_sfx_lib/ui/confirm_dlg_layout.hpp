// Where the confirmation dialog's parts go, from the sizes of its texts and
// the window's DPI: the numbers below are pixels at 96 DPI and grow with it.
#pragma once

namespace qzr::sfx {

struct confirm_dlg_layout {
    struct size {
        int cx = 0;
        int cy = 0;
    };
    struct box {
        int x = 0, y = 0, cx = 0, cy = 0;
        bool operator==(const box& o) const noexcept { return x == o.x && y == o.y && cx == o.cx && cy == o.cy; }
    };

    static constexpr int icon_size = 48;
    static constexpr int margin = 16;
    static constexpr int gap = 8;  // between the two texts
    static constexpr int button_height = 32;

    box icon, title, first_text, second_text, install, cancel;
    size window;

    // A DPI of 0 or less counts as 96.
    static confirm_dlg_layout compute(size title_text, size first_text, size second_text, int dpi = 96) noexcept;
    // value at 96 DPI, at dpi (rounded to the nearest pixel).
    static int scale(int value, int dpi) noexcept;
};

}  // namespace qzr::sfx
