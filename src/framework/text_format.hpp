// printf-style formatting with the arguments checked at run time instead of
// trusted: every log line and error text of the system is written with a
// printf format, and a mismatched argument must never read foreign memory.
//
// Supported: flags "-+ #0", width, precision, length modifiers hh h l ll z j t
// I64 I32, conversions d i u o x X c s S p and "%%". Integer lengths follow
// the Windows data model (long is 32-bit). %s and %S both accept narrow
// (UTF-8) and wide strings. A missing argument prints nothing; a conversion
// the engine does not know is copied as it stands.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace qzr::text {

struct format_arg {
    enum class kind { sint, uint, narrow, wide, pointer, floating };
    kind k;
    union {
        std::int64_t s;
        std::uint64_t u;
        const void* p;
        double d;
    };
    std::string_view narrow_text{};
    std::wstring_view wide_text{};
    bool null_text = false;

    template <class T>
        requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
                 !std::is_same_v<T, wchar_t>)
    format_arg(T v) noexcept {
        if constexpr (std::is_signed_v<T>) { k = kind::sint; s = v; }
        else { k = kind::uint; u = v; }
    }
    template <class T>
        requires std::is_enum_v<T>
    format_arg(T v) noexcept : format_arg(static_cast<std::underlying_type_t<T>>(v)) {}
    format_arg(bool v) noexcept : k(kind::sint), s(v ? 1 : 0) {}
    format_arg(char v) noexcept : k(kind::sint), s(static_cast<unsigned char>(v)) {}
    format_arg(wchar_t v) noexcept : k(kind::uint), u(static_cast<std::make_unsigned_t<wchar_t>>(v)) {}
    format_arg(double v) noexcept : k(kind::floating), d(v) {}
    format_arg(const char* v) noexcept : k(kind::narrow), p(v), narrow_text(v ? v : ""), null_text(!v) {}
    format_arg(const std::string& v) noexcept : k(kind::narrow), p(nullptr), narrow_text(v) {}
    format_arg(std::string_view v) noexcept : k(kind::narrow), p(nullptr), narrow_text(v) {}
    format_arg(const wchar_t* v) noexcept : k(kind::wide), p(v), wide_text(v ? v : L""), null_text(!v) {}
    format_arg(const std::wstring& v) noexcept : k(kind::wide), p(nullptr), wide_text(v) {}
    format_arg(std::wstring_view v) noexcept : k(kind::wide), p(nullptr), wide_text(v) {}
    format_arg(const void* v) noexcept : k(kind::pointer), p(v) {}
    format_arg(void* v) noexcept : k(kind::pointer), p(v) {}
    format_arg(std::nullptr_t) noexcept : k(kind::pointer), p(nullptr) {}
};

std::wstring vformat(std::wstring_view fmt, std::span<const format_arg> args);
std::string vformat(std::string_view fmt, std::span<const format_arg> args);

template <class... A>
std::wstring format(const wchar_t* fmt, const A&... args) {
    const format_arg list[] = {format_arg(args)..., format_arg(0)};
    return vformat(std::wstring_view(fmt ? fmt : L""), std::span<const format_arg>(list, sizeof...(A)));
}

template <class... A>
std::string format(const char* fmt, const A&... args) {
    const format_arg list[] = {format_arg(args)..., format_arg(0)};
    return vformat(std::string_view(fmt ? fmt : ""), std::span<const format_arg>(list, sizeof...(A)));
}

// Formats a wide format and returns UTF-8 (messages are kept as UTF-8).
std::string format_utf8_v(std::wstring_view fmt, std::span<const format_arg> args);
template <class... A>
std::string format_utf8(const wchar_t* fmt, const A&... args) {
    const format_arg list[] = {format_arg(args)..., format_arg(0)};
    return format_utf8_v(std::wstring_view(fmt ? fmt : L""), std::span<const format_arg>(list, sizeof...(A)));
}
template <class... A>
std::string format_utf8(const char* fmt, const A&... args) {
    return format(fmt, args...);
}

// An integer's decimal digits, as std::to_wstring writes them. That one goes
// through the C runtime's wide printf, a second formatting engine in the
// image for nothing but integers.
std::wstring decimal(std::int64_t v);
std::wstring decimal(std::uint64_t v);
template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>)
std::wstring decimal(T v) {
    if constexpr (std::is_signed_v<T>) return decimal(static_cast<std::int64_t>(v));
    else return decimal(static_cast<std::uint64_t>(v));
}

}  // namespace qzr::text
