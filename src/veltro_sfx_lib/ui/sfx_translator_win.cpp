#include <windows.h>

#include "veltro_sfx_lib/ui/sfx_translator.hpp"

namespace qzr::sfx {

namespace {
constexpr int string_table_id = 300;
}

byte_view string_table_resource() noexcept {
    // Resources of the executable image stay mapped for the process's life.
    const HRSRC res = ::FindResourceW(nullptr, MAKEINTRESOURCEW(string_table_id), L"LZMA");
    if (!res) return {};
    const HGLOBAL loaded = ::LoadResource(nullptr, res);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data) return {};
    return byte_view(data, ::SizeofResource(nullptr, res));
}

}  // namespace qzr::sfx
