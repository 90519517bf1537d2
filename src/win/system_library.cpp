#include "win/system_library.hpp"

#include <cwchar>

namespace qzr::win {

HMODULE load_system_library(const wchar_t* name) noexcept {
    if (const HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
    // A system without the search flags (Windows 7 before its loader
    // update) refuses them as an invalid parameter: the full path of the
    // system directory's copy says the same there. Its own dependencies are
    // looked up beside it, in the system directory, first.
    if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
    wchar_t path[MAX_PATH + 1];
    const UINT dir = ::GetSystemDirectoryW(path, MAX_PATH);
    const std::size_t name_length = std::wcslen(name);
    if (dir == 0 || dir + 1 + name_length > MAX_PATH) {
        ::SetLastError(ERROR_BUFFER_OVERFLOW);
        return nullptr;
    }
    path[dir] = L'\\';
    std::wmemcpy(path + dir + 1, name, name_length + 1);
    return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool bind_functions(HMODULE module, const char* const* names, FARPROC* slots, std::size_t count) noexcept {
    bool complete = module != nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        slots[i] = module ? ::GetProcAddress(module, names[i]) : nullptr;
        complete = complete && slots[i];
    }
    return complete;
}

}  // namespace qzr::win
