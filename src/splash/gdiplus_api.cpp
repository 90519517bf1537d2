#include "splash/gdiplus_api.hpp"

#include <iterator>

#include "win/system_library.hpp"

namespace qzr::features::splash {

namespace {

// In the order of gdiplus_functions.
constexpr const char* names[] = {
    "GdiplusStartup",
    "GdiplusShutdown",
    "GdipLoadImageFromStream",
    "GdipDisposeImage",
    "GdipGetImageWidth",
    "GdipGetImageHeight",
    "GdipImageGetFrameDimensionsCount",
    "GdipImageGetFrameDimensionsList",
    "GdipImageGetFrameCount",
    "GdipImageSelectActiveFrame",
    "GdipGetPropertyItemSize",
    "GdipGetPropertyItem",
    "GdipCreateFromHDC",
    "GdipDeleteGraphics",
    "GdipDrawImageRectI",
};
static_assert(sizeof(gdiplus_functions) == std::size(names) * sizeof(FARPROC));

}  // namespace

const gdiplus_functions* gdiplus() noexcept {
    static gdiplus_functions functions{};
    static const bool loaded = win::bind_functions(win::load_system_library(L"gdiplus.dll"), names,
                                                   reinterpret_cast<FARPROC*>(&functions), std::size(names));
    return loaded ? &functions : nullptr;
}

}  // namespace qzr::features::splash
