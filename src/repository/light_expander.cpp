#include "repository/light_expander.hpp"

namespace qzr::repository {

std::wstring light_expander::expand(const wchar_t* text, std::size_t length) const {
    std::wstring whole(text ? text : L"", text ? length : 0);
    auto it = variables_.find(whole);
    return it == variables_.end() ? whole : it->second;
}

std::shared_ptr<std::wstring> light_expander::expand_shared(const wchar_t* text, std::size_t length) const {
    return std::make_shared<std::wstring>(expand(text, length));
}

std::optional<std::wstring> light_expander::expand_optional(const std::optional<std::wstring>& text) const {
    if (!text) return std::nullopt;
    return expand(*text);
}

}  // namespace qzr::repository
