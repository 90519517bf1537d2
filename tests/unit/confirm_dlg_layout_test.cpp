// The confirmation dialog's layout, against numbers worked by hand.
#include <gtest/gtest.h>

#include "veltro_sfx_lib/ui/confirm_dlg_layout.hpp"

using qzr::sfx::confirm_dlg_layout;
using box = confirm_dlg_layout::box;

namespace {

struct layout_case {
    int dpi;
    confirm_dlg_layout::size title, first, second;
    box icon, title_box, first_box, second_box, install, cancel;
    confirm_dlg_layout::size window;
};

// At 96 DPI: margin 16, icon 48, gap 8, buttons 32 high. The content is
// 316 wide (the first text, 300 + 16); each button (316 - 32) / 2 x 1.05 =
// 149. At 144 DPI the texts come 1.5 times as large, and so do margin 24,
// icon 72, gap 12 and buttons 48: content 474, buttons (474 - 48) / 2 x 1.05
// = 223. A DPI that could not be read counts as 96.
const layout_case cases[] = {
    {96, {200, 29}, {300, 24}, {250, 32},
     {16, 16, 48, 48}, {80, 25, 200, 29}, {16, 80, 300, 24}, {16, 112, 250, 32},
     {16, 160, 149, 32}, {181, 160, 149, 32}, {346, 208}},
    {0, {200, 29}, {300, 24}, {250, 32},
     {16, 16, 48, 48}, {80, 25, 200, 29}, {16, 80, 300, 24}, {16, 112, 250, 32},
     {16, 160, 149, 32}, {181, 160, 149, 32}, {346, 208}},
    {144, {300, 44}, {450, 36}, {375, 48},
     {24, 24, 72, 72}, {120, 38, 300, 44}, {24, 120, 450, 36}, {24, 168, 375, 48},
     {24, 240, 223, 48}, {271, 240, 223, 48}, {518, 312}},
    // A title wider than both texts sets the width: 600 + 72 + 48 = 720.
    {144, {600, 44}, {450, 36}, {375, 48},
     {24, 24, 72, 72}, {120, 38, 600, 44}, {24, 120, 450, 36}, {24, 168, 375, 48},
     {24, 240, 352, 48}, {400, 240, 352, 48}, {776, 312}},
};

}  // namespace

TEST(ConfirmDialogLayout, MarginsIconAndButtonsGrowWithTheDpi) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpi);
        const auto l = confirm_dlg_layout::compute(c.title, c.first, c.second, c.dpi);
        EXPECT_EQ(l.icon, c.icon);
        EXPECT_EQ(l.title, c.title_box);
        EXPECT_EQ(l.first_text, c.first_box);
        EXPECT_EQ(l.second_text, c.second_box);
        EXPECT_EQ(l.install, c.install);
        EXPECT_EQ(l.cancel, c.cancel);
        EXPECT_EQ(l.window.cx, c.window.cx);
        EXPECT_EQ(l.window.cy, c.window.cy);
    }
}
