// WinHTTP, loaded from the system directory when the first client or URL
// needs it rather than imported: an import would be resolved by the loader
// before the process entry has hardened the DLL search, and WinHTTP is not
// one of the DLLs the system always takes from its own directory.
#pragma once

#include <windows.h>
#include <winhttp.h>

namespace qzr::net {

// One typed pointer per function the client uses, named as the function.
struct winhttp_functions {
    decltype(&::WinHttpAddRequestHeaders) WinHttpAddRequestHeaders;
    decltype(&::WinHttpCloseHandle) WinHttpCloseHandle;
    decltype(&::WinHttpConnect) WinHttpConnect;
    decltype(&::WinHttpCrackUrl) WinHttpCrackUrl;
    decltype(&::WinHttpGetIEProxyConfigForCurrentUser) WinHttpGetIEProxyConfigForCurrentUser;
    decltype(&::WinHttpOpen) WinHttpOpen;
    decltype(&::WinHttpOpenRequest) WinHttpOpenRequest;
    decltype(&::WinHttpQueryHeaders) WinHttpQueryHeaders;
    decltype(&::WinHttpReadData) WinHttpReadData;
    decltype(&::WinHttpReceiveResponse) WinHttpReceiveResponse;
    decltype(&::WinHttpSendRequest) WinHttpSendRequest;
    decltype(&::WinHttpSetCredentials) WinHttpSetCredentials;
    decltype(&::WinHttpSetOption) WinHttpSetOption;
    decltype(&::WinHttpSetStatusCallback) WinHttpSetStatusCallback;
    decltype(&::WinHttpSetTimeouts) WinHttpSetTimeouts;
};

// The functions, every one present; loaded once. Raises the Windows error
// of the load (or 127 for a missing function) when WinHTTP cannot be used.
const winhttp_functions& winhttp();

}  // namespace qzr::net
