// GDI+, loaded from the system directory by the splash rather than
// imported: the loader resolves imports before the process entry has
// hardened the DLL search, and gdiplus.dll is not one of the DLLs the
// system always takes from its own directory.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <gdiplus.h>

namespace qzr::features::splash {

// One typed pointer per flat function the splash draws with.
struct gdiplus_functions {
    decltype(&Gdiplus::GdiplusStartup) GdiplusStartup;
    decltype(&Gdiplus::GdiplusShutdown) GdiplusShutdown;
    decltype(&Gdiplus::DllExports::GdipLoadImageFromStream) GdipLoadImageFromStream;
    decltype(&Gdiplus::DllExports::GdipDisposeImage) GdipDisposeImage;
    decltype(&Gdiplus::DllExports::GdipGetImageWidth) GdipGetImageWidth;
    decltype(&Gdiplus::DllExports::GdipGetImageHeight) GdipGetImageHeight;
    decltype(&Gdiplus::DllExports::GdipImageGetFrameDimensionsCount) GdipImageGetFrameDimensionsCount;
    decltype(&Gdiplus::DllExports::GdipImageGetFrameDimensionsList) GdipImageGetFrameDimensionsList;
    decltype(&Gdiplus::DllExports::GdipImageGetFrameCount) GdipImageGetFrameCount;
    decltype(&Gdiplus::DllExports::GdipImageSelectActiveFrame) GdipImageSelectActiveFrame;
    decltype(&Gdiplus::DllExports::GdipGetPropertyItemSize) GdipGetPropertyItemSize;
    decltype(&Gdiplus::DllExports::GdipGetPropertyItem) GdipGetPropertyItem;
    decltype(&Gdiplus::DllExports::GdipCreateFromHDC) GdipCreateFromHDC;
    decltype(&Gdiplus::DllExports::GdipDeleteGraphics) GdipDeleteGraphics;
    decltype(&Gdiplus::DllExports::GdipDrawImageRectI) GdipDrawImageRectI;
};

// The functions, every one present, loaded once; null when GDI+ cannot be
// loaded (the splash then has no picture and does not open).
const gdiplus_functions* gdiplus() noexcept;

}  // namespace qzr::features::splash
