#include "net/url.hpp"

#include "framework/errors.hpp"
#include "framework/utf.hpp"

namespace qzr::net {

namespace {

[[noreturn]] void refuse(std::wstring_view text, const wchar_t* why) {
    throw exceptions::error(exceptions::invalid_parameter_code, L"Unable to crack the URL '%ls' into components!%ls",
                            std::wstring(text), why);
}

}  // namespace

url from_components(std::wstring_view text, std::wstring_view scheme, std::wstring_view host, std::uint16_t port,
                    std::wstring_view path, std::wstring_view extra_info) {
    if (scheme.empty()) refuse(text, L" Scheme is missing.");
    if (host.empty()) refuse(text, L" Hostname is missing.");
    url u;
    u.scheme = utf::to_utf8(scheme);
    u.host = utf::to_utf8(host);
    const bool default_port = (port == 80 && u.scheme == "http") || (port == 443 && u.scheme == "https");
    u.port = default_port ? 0 : port;
    u.path = utf::to_utf8(path);
    std::wstring_view query = extra_info;
    if (const auto hash = query.find(L'#'); hash != std::wstring_view::npos) query = query.substr(0, hash);
    if (!query.empty() && query.front() == L'?') query.remove_prefix(1);
    u.query = utf::to_utf8(query);
    return u;
}

std::string to_string(const url& u) {
    std::string out = u.scheme == "https" ? "https://" : "http://";
    out += u.host;
    if (u.port != 0) out += ":" + std::to_string(u.port);
    if (u.path.empty() || u.path.front() != '/') out += "/";
    out += u.path;
    if (!u.query.empty()) out += "?" + u.query;
    return out;
}

}  // namespace qzr::net
