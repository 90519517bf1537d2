#include "net/winhttp_api.hpp"

#include <iterator>

#include "framework/errors.hpp"
#include "win/system_library.hpp"

namespace qzr::net {

namespace {

// In the order of winhttp_functions.
constexpr const char* names[] = {
    "WinHttpAddRequestHeaders", "WinHttpCloseHandle",     "WinHttpConnect",
    "WinHttpCrackUrl",          "WinHttpGetIEProxyConfigForCurrentUser",
    "WinHttpOpen",              "WinHttpOpenRequest",     "WinHttpQueryHeaders",
    "WinHttpReadData",          "WinHttpReceiveResponse", "WinHttpSendRequest",
    "WinHttpSetCredentials",    "WinHttpSetOption",       "WinHttpSetStatusCallback",
    "WinHttpSetTimeouts",
};
static_assert(sizeof(winhttp_functions) == std::size(names) * sizeof(FARPROC));

struct loaded {
    winhttp_functions functions{};
    DWORD error = ERROR_SUCCESS;
};

loaded load() {
    loaded l;
    const HMODULE module = win::load_system_library(L"winhttp.dll");
    if (!module) {
        l.error = ::GetLastError() ? ::GetLastError() : ERROR_MOD_NOT_FOUND;
    } else if (!win::bind_functions(module, names, reinterpret_cast<FARPROC*>(&l.functions), std::size(names))) {
        l.error = ERROR_PROC_NOT_FOUND;
    }
    return l;
}

}  // namespace

const winhttp_functions& winhttp() {
    // Not const: the client's tests put a failing function in one's place.
    static loaded l = load();
    if (l.error != ERROR_SUCCESS) throw exceptions::error(static_cast<std::int32_t>(l.error), "Unable to load WinHTTP!");
    return l.functions;
}

}  // namespace qzr::net
