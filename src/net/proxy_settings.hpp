// The proxy record and its file, proxy.ini: which proxy the stub's HTTP
// clients use and how they authenticate, read from the file named by the
// proxy_ini switch and written again for the setup master.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qzr::http {

namespace proxy_type {
inline constexpr std::int32_t none = 0;
inline constexpr std::int32_t preconfig = 1;  // the user's system (IE) settings
inline constexpr std::int32_t http = 2;
inline constexpr std::int32_t socks = 3;
inline constexpr std::int32_t socks5 = 4;
inline constexpr std::int32_t https = 5;
}  // namespace proxy_type

namespace proxy_authorization {
inline constexpr std::int32_t none = 0;
inline constexpr std::int32_t basic = 1;
inline constexpr std::int32_t ntlm = 2;
}  // namespace proxy_authorization

class ProxySettings {
public:
    ProxySettings() = default;
    ProxySettings(const ProxySettings&) = default;
    ProxySettings& operator=(const ProxySettings&) = default;
    virtual ~ProxySettings() = default;

    std::int32_t authorization = proxy_authorization::none;
    std::int32_t proxy_type = proxy_type::none;
    std::int32_t port = 8080;
    std::string proxy_name;     // UTF-8
    std::string user_name;      // UTF-8
    std::string user_password;  // UTF-8
    bool reserved = false;      // never read from nor written to the file
    bool fallback = true;

    // Reads the file (retrying while another process holds it open) and
    // takes every file field from it, defaults for what it lacks. 0 when
    // loaded, else the system's error; on an error nothing changes.
    std::uint32_t load(const std::wstring& path);
    // Writes the file, replacing what it held. 0 when written, else the
    // system's error.
    std::uint32_t save(const std::wstring& path) const;
};

// The file's text, decoded by its byte-order mark (UTF-16 LE or BE, else
// UTF-8 with or without one). Keys absent from the ProxySettings section, or
// numbers that do not parse, keep the record's defaults; a UserPass that is
// not valid Base64 gives an empty password, as an absent one does.
ProxySettings parse_proxy_ini(std::span<const std::uint8_t> bytes);

// The file as save writes it: UTF-16 LE with its mark, CR LF line ends.
std::vector<std::uint8_t> serialize_proxy_ini(const ProxySettings& settings);

// Proxy type of a scheme name, compared without regard to ASCII case over
// the whole name; 0 for any name it does not know.
std::int32_t proxy_type_of_scheme(std::wstring_view scheme) noexcept;

// How values of the file and ports of system proxy entries read as numbers:
// leading whitespace, an optional sign, decimal digits; whatever follows the
// digits is ignored. Nothing when no digit comes first or the number does not
// fit in 32 bits.
std::optional<std::int32_t> read_decimal(std::string_view text) noexcept;

// Texts of the log lines that describe a record.
const wchar_t* proxy_type_log_text(std::int32_t type) noexcept;
const wchar_t* authorization_log_text(std::int32_t authorization) noexcept;

}  // namespace qzr::http
