// DLLs the image does not import are loaded here, from the system directory
// only. The installer usually starts from a Downloads folder, where anyone
// may have left a DLL of the same name beside it; the application folder,
// the current folder and the PATH are never searched.
#pragma once

#include <windows.h>

#include <cstddef>

namespace qzr::win {

// A DLL of the system directory by its bare file name, loaded for the rest
// of the process. Null, with the last error set, when it cannot be loaded.
HMODULE load_system_library(const wchar_t* name) noexcept;

// An export of module as the function type F; null when it is missing.
template <class F>
F function_of(HMODULE module, const char* name) noexcept {
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

// Fills slots[i] with the export names[i] of module, for a table of typed
// pointers laid out as an array; false when module is null or any export is
// missing.
bool bind_functions(HMODULE module, const char* const* names, FARPROC* slots, std::size_t count) noexcept;

}  // namespace qzr::win
