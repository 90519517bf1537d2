// The user's system (IE) proxy configuration as a proxy record: asked for by
// a proxy.ini of the preconfigured type, resolved once at start-up.
#pragma once

#include <optional>
#include <string_view>

#include "net/proxy_settings.hpp"

namespace qzr::http {

// The first usable entry of a system proxy string, as a fresh HTTP proxy
// record (port 8080 when the entry names none). Entries are separated by
// ';'. "scheme=..." entries count only for http and https, "scheme://..."
// ones only for http; an entry that names no host is skipped.
std::optional<ProxySettings> proxy_from_ie_string(std::wstring_view proxy);

// What the detection makes of the proxy string the system returned (null
// when it returned none), with its log lines. When a proxy is found it
// replaces settings as a whole and the result is true.
bool apply_ie_proxy_string(const wchar_t* proxy, ProxySettings& settings);

// Asks the system for the current user's proxy configuration and applies it
// as above; false (settings untouched) when the system has no usable proxy.
bool detect_ie_proxy(ProxySettings& settings);

}  // namespace qzr::http
