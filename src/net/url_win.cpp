#include <windows.h>
#include <winhttp.h>

#include "framework/errors.hpp"
#include "net/url.hpp"
#include "net/winhttp_api.hpp"

namespace qzr::net {

url crack(const std::wstring& text) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    // Lengths of -1 ask for every component as a pointer into the text.
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
        static_cast<DWORD>(-1);
    if (!winhttp().WinHttpCrackUrl(text.c_str(), static_cast<DWORD>(text.size()), 0, &parts))
        throw exceptions::error(exceptions::invalid_parameter_code, L"Unable to crack the URL '%ls' into components!",
                                text);
    const auto part = [](const wchar_t* at, DWORD length) {
        return at ? std::wstring_view(at, length) : std::wstring_view();
    };
    return from_components(text, part(parts.lpszScheme, parts.dwSchemeLength),
                           part(parts.lpszHostName, parts.dwHostNameLength), parts.nPort,
                           part(parts.lpszUrlPath, parts.dwUrlPathLength),
                           part(parts.lpszExtraInfo, parts.dwExtraInfoLength));
}

}  // namespace qzr::net
