// The stub's failure kinds. Each sets the code the entry turns into the
// process exit code.
#pragma once

#include "framework/errors.hpp"

namespace qzr::sfx::exceptions {

using qzr::exceptions::error;

inline constexpr std::int32_t invalid_payload_code = 487;
inline constexpr std::int32_t unsupported_file_format_code = 193;
inline constexpr std::int32_t sfx_invalid_signature_code = 44024;  // 0xABF8
inline constexpr std::int32_t download_fail_exit_code = 44002;     // 0xABE2
inline constexpr std::int32_t missing_sfx_exit_code = 44051;       // 0xAC13
inline constexpr std::int32_t unsupported_os_code = 45056;         // 0xB000
inline constexpr std::int32_t ppi_cancel_code = 1223;
inline constexpr std::int32_t insufficient_integrity_level_code = 124;
inline constexpr std::int32_t restart_required_code = 44080;

class invalid_payload : public error {
public:
    explicit invalid_payload(const std::wstring& text) : error(invalid_payload_code, text::format_utf8(L"%s", text)) {}
};

class unsupported_file_format : public error {
public:
    explicit unsupported_file_format(const std::wstring& text)
        : error(unsupported_file_format_code, text::format_utf8(L"%s", text)) {}
};

class sfx_invalid_signature : public error {
public:
    sfx_invalid_signature() : error(sfx_invalid_signature_code, std::string("SFX is not DSA signed!")) {}
};

class download_file_fail : public error {
public:
    template <class... A>
    download_file_fail(std::int32_t code, const wchar_t* fmt, const A&... args) : error(code, fmt, args...) {}
    template <class... A>
    explicit download_file_fail(const wchar_t* fmt, const A&... args) : error(-1, fmt, args...) {}
};

class download_file_invalid_signature : public download_file_fail {
public:
    template <class... A>
    explicit download_file_invalid_signature(const wchar_t* fmt, const A&... args) : download_file_fail(-1, fmt, args...) {}
};

class missign_sfx_file : public error {
public:
    template <class... A>
    explicit missign_sfx_file(const wchar_t* fmt, const A&... args) : error(-1, fmt, args...) {}
};

class unsupported_os : public error {
public:
    unsupported_os() : error(unsupported_os_code) {}
};

class ppi_cancel : public error {
public:
    ppi_cancel() : error(ppi_cancel_code) {}
};

class ppi_abort : public error {
public:
    explicit ppi_abort(std::int32_t code) : error(code) {}
};

class insufficient_integrity_level : public error {
public:
    insufficient_integrity_level() : error(insufficient_integrity_level_code) {}
};

}  // namespace qzr::sfx::exceptions
