#include "veltro_sfx_lib/run/sfx_migrate_cmd_params.hpp"

#include "framework/utf.hpp"

namespace qzr::sfx {

namespace {

constexpr auto npos = std::wstring::npos;

bool is_space(wchar_t c) noexcept { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// The INNO switches are written "/LANG=..." on a raw command line, but the
// text that reaches us has been rebuilt, and rebuilding always writes ':'
// between key and value. Both separators are accepted; the earlier match wins.
std::size_t find_inno_switch(const std::wstring& text, std::wstring_view name) {
    const std::size_t eq = utf::ifind(text, std::wstring(name) + L"=");
    const std::size_t colon = utf::ifind(text, std::wstring(name) + L":");
    return std::min(eq, colon);
}

}  // namespace

std::wstring sfx_migrate_cmd_params::convert_inno(const std::wstring& input) const {
    std::wstring text = input;

    if (const auto pos = utf::ifind(text, L"/verysilent"); pos != npos && utf::ifind(text, L"/silent") == npos)
        text.replace(pos, 11, L"/silent");

    if (const auto pos = find_inno_switch(text, L"/LANG"); pos != npos && utf::ifind(text, L"/lang-id") == npos) {
        const std::size_t value_from = pos + 6;
        std::size_t value_to = value_from;
        while (value_to < text.size() && !is_space(text[value_to])) ++value_to;
        std::wstring value = text.substr(value_from, value_to - value_from);
        if (!value.empty() && value.front() == L'"') value.erase(0, 1);
        if (!value.empty() && value.back() == L'"') value.pop_back();
        if (!value.empty() && (value[0] == L'L' || value[0] == L'l'))
            text.replace(pos, value_to - pos, L" /lang-id:" + value.substr(1));
    }

    if (const auto pos = find_inno_switch(text, L"/DIR"); pos != npos && utf::ifind(text, L"/install-path") == npos)
        text.replace(pos, 5, L"/install-path:");

    return text;
}

std::wstring sfx_migrate_cmd_params::convert_client_id(const std::wstring& input) const {
    std::wstring text = input;
    if (const auto pos = utf::ifind(text, L"/ga_clientid"); pos != npos && utf::ifind(text, L"/track-guid") == npos)
        text.replace(pos, 12, L"/track-guid");
    return text;
}

}  // namespace qzr::sfx
