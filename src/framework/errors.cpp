#include "framework/errors.hpp"

#include "framework/utf.hpp"

namespace qzr::exceptions {

namespace detail {

// The place is the caller of the raising constructor; inlining may move it,
// which is fine for a value that only ever lands in a log line.
base::base() noexcept : where_(__builtin_return_address(0)) {}

base::base(std::int32_t code) noexcept : code_(code), where_(__builtin_return_address(0)) {}

base::base(std::int32_t code, std::string message_utf8)
    : message_(std::move(message_utf8)), code_(code), where_(__builtin_return_address(0)) {}

const char* base::what() const noexcept {
    return message_.empty() ? "Unknown exception" : message_.c_str();
}

}  // namespace detail

error::error(std::int32_t code) noexcept : base(code) {}
error::error(const char* text) : base(-1, text ? std::string(text) : std::string()) {}
error::error(const std::string& text) : base(-1, text) {}
error::error(std::int32_t code, const std::string& text) : base(code, text) {}
error::error(std::int32_t code, const char* text) : base(code, text ? std::string(text) : std::string()) {}
error::error(const std::wstring& text) : base(-1, utf::to_utf8(text)) {}
error::error(const wchar_t* text) : base(-1, text ? utf::to_utf8(text) : std::string()) {}

fatal::fatal(const std::string& text) : base(-1, text) {}
fatal::fatal(std::int32_t code, const std::string& text) : base(code, text) {}

}  // namespace qzr::exceptions
