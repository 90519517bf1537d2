// The error hierarchy every layer raises: a message kept as UTF-8 and a
// signed code (-1 when the raiser gave none, otherwise a Windows error code or
// one of the stub's own exit codes).
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "framework/text_format.hpp"

namespace qzr::exceptions {

namespace detail {

class base : public std::exception {
public:
    base() noexcept;
    explicit base(std::int32_t code) noexcept;
    base(std::int32_t code, std::string message_utf8);

    const char* what() const noexcept override;
    std::int32_t code() const noexcept { return code_; }
    // Where the error was raised; only ever printed in logs.
    const void* where() const noexcept { return where_; }
    bool has_message() const noexcept { return !message_.empty(); }

protected:
    std::string message_;
    std::int32_t code_ = -1;
    const void* where_ = nullptr;
};

}  // namespace detail

// The general failure.
class error : public detail::base {
public:
    explicit error(std::int32_t code) noexcept;
    explicit error(const char* text);
    explicit error(const std::string& text);
    error(std::int32_t code, const std::string& text);
    error(std::int32_t code, const char* text);
    explicit error(const std::wstring& text);
    explicit error(const wchar_t* text);

    template <class... A>
    error(std::int32_t code, const wchar_t* fmt, const A&... args)
        : error(code, text::format_utf8(fmt, args...)) {}

    template <class A0, class... A>
    error(const wchar_t* fmt, const A0& a0, const A&... args)
        : error(-1, text::format_utf8(fmt, a0, args...)) {}
};

// Unrecoverable failure of the framework itself.
class fatal : public detail::base {
public:
    explicit fatal(const std::string& text);
    fatal(std::int32_t code, const std::string& text);
};

// Windows error codes the framework layers use.
inline constexpr std::int32_t access_denied_code = 5;      // read outside a mapped view
inline constexpr std::int32_t invalid_data_code = 13;      // bad data
inline constexpr std::int32_t invalid_parameter_code = 87;  // bad argument

}  // namespace qzr::exceptions
