#include "repository/conditions/brand.hpp"

namespace qzr::repository::conditions {

namespace {

struct brand_row {
    std::wstring_view word;
    brand value;
    std::wstring_view folder;
};

constexpr brand_row k_brands[] = {
    {L"kavro", brand::kavro, L"Kavro Software"}, {L"quenlo", brand::quenlo, L"QUENLO"},
    {L"pettrel", brand::pettrel, L"Pettrel"},     {L"odrano", brand::odrano, L"Odrano"},
    {L"sulvane", brand::sulvane, L"Sulvane"},     {L"tavrix", brand::tavrix, L"Tavrix"},
};

}  // namespace

std::optional<brand> brand_from_product_id(std::wstring_view product_id) {
    const auto dash = product_id.find(L'-');
    if (dash == std::wstring_view::npos) return std::nullopt;
    const std::wstring_view word = product_id.substr(0, dash);
    for (const auto& row : k_brands)
        if (row.word == word) return row.value;
    return std::nullopt;
}

std::wstring brand_folder_name(std::optional<brand> b) {
    if (!b) return std::wstring();
    for (const auto& row : k_brands)
        if (row.value == *b) return std::wstring(row.folder);
    return std::wstring();
}

}  // namespace qzr::repository::conditions
