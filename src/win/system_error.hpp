// Raising the general error with the calling thread's last Windows error.
#pragma once

#include <windows.h>

#include "framework/errors.hpp"

namespace qzr::win {

inline std::int32_t last_error() noexcept { return static_cast<std::int32_t>(::GetLastError()); }

template <class... A>
[[noreturn]] void raise_last_error(const wchar_t* fmt, const A&... args) {
    const std::int32_t code = last_error();
    throw exceptions::error(code, fmt, args...);
}

}  // namespace qzr::win
