// A URL as the HTTP client uses it: cracked once into its parts, printed
// back on demand.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qzr::net {

struct url {
    std::string scheme;  // as written: http or https
    std::string host;
    std::uint16_t port = 0;  // 0: none given, or the scheme's default
    std::string path;        // empty when the URL has none
    std::string query;       // without "?" and without any "#fragment"

    bool operator==(const url&) const = default;
};

// The parts as the system's URL cracker delivers them (extra_info is the
// query with its "?" and any fragment); this keeps the rules of the value
// type: default ports become 0, the query loses "?" and the fragment.
// Raises error 87 with "Unable to crack the URL '%ls' into components!
// Scheme is missing." or "... Hostname is missing." for the text.
url from_components(std::wstring_view text, std::wstring_view scheme, std::wstring_view host, std::uint16_t port,
                    std::wstring_view path, std::wstring_view extra_info);

// Cracks a wide URL (WinHTTP's cracker on Windows). Errors carry 87.
url crack(const std::wstring& text);

// "https://" for the scheme https exactly, else "http://"; the host; ":port"
// unless 0; "/" unless the path starts with one; the path; "?query" unless
// the query is empty.
std::string to_string(const url& u);

}  // namespace qzr::net
