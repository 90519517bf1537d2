// The brand a stub is built for, decided by the first word of the ProductId
// string of its version resource.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qzr::repository::conditions {

enum class brand { kavro, quenlo, pettrel, odrano, sulvane, tavrix };

// "odrano-..." -> odrano; no '-' or an unknown word -> no brand.
std::optional<brand> brand_from_product_id(std::wstring_view product_id);

// Folder name under the common application data folder; empty without brand.
std::wstring brand_folder_name(std::optional<brand> b);

}  // namespace qzr::repository::conditions
