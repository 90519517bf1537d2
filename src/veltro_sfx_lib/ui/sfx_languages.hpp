// The language table: the 46 languages the stub knows, identifier to culture
// name, in the order lookups scan it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace qzr::sfx {

struct language_entry {
    std::int32_t id;
    std::wstring_view culture;
    std::string_view culture_narrow;
};

std::span<const language_entry> language_table() noexcept;

std::optional<std::wstring_view> culture_of(std::int32_t id) noexcept;
std::optional<std::int32_t> language_of(std::wstring_view culture) noexcept;
bool is_known_language(std::int32_t id) noexcept;

inline constexpr std::int32_t default_language = 1033;

}  // namespace qzr::sfx
