#include "veltro_sfx_lib/ui/sfx_languages.hpp"

namespace qzr::sfx {

namespace {

#define QZR_LANG(id, name) language_entry{id, L##name, name}
constexpr language_entry k_languages[] = {
    QZR_LANG(1033, "en-us"), QZR_LANG(1025, "ar-sa"), QZR_LANG(1059, "be-by"), QZR_LANG(1026, "bg-bg"),
    QZR_LANG(1093, "bn-in"), QZR_LANG(1027, "ca-es"), QZR_LANG(1029, "cs-cz"), QZR_LANG(1030, "da-dk"),
    QZR_LANG(1031, "de-de"), QZR_LANG(1032, "el-gr"), QZR_LANG(2057, "en-gb"), QZR_LANG(3082, "es-es"),
    QZR_LANG(1061, "et-ee"), QZR_LANG(1065, "fa-ir"), QZR_LANG(1035, "fi-fi"), QZR_LANG(1036, "fr-fr"),
    QZR_LANG(3084, "fr-ca"), QZR_LANG(1037, "he-il"), QZR_LANG(1081, "hi-in"), QZR_LANG(1050, "hr-hr"),
    QZR_LANG(1038, "hu-hu"), QZR_LANG(1057, "id-id"), QZR_LANG(1040, "it-it"), QZR_LANG(1041, "ja-jp"),
    QZR_LANG(1042, "ko-kr"), QZR_LANG(1063, "lt-lt"), QZR_LANG(1062, "lv-lv"), QZR_LANG(1086, "ms-my"),
    QZR_LANG(1044, "nb-no"), QZR_LANG(1043, "nl-nl"), QZR_LANG(1045, "pl-pl"), QZR_LANG(1046, "pt-br"),
    QZR_LANG(2070, "pt-pt"), QZR_LANG(1048, "ro-ro"), QZR_LANG(1049, "ru-ru"), QZR_LANG(1051, "sk-sk"),
    QZR_LANG(1060, "sl-si"), QZR_LANG(2074, "sr-sp"), QZR_LANG(1053, "sv-se"), QZR_LANG(1054, "th-th"),
    QZR_LANG(1055, "tr-tr"), QZR_LANG(1058, "uk-ua"), QZR_LANG(1056, "ur-pk"), QZR_LANG(1066, "vi-vn"),
    QZR_LANG(2052, "zh-cn"), QZR_LANG(1028, "zh-tw"),
};
#undef QZR_LANG

static_assert(std::size(k_languages) == 46);

}  // namespace

std::span<const language_entry> language_table() noexcept { return k_languages; }

std::optional<std::wstring_view> culture_of(std::int32_t id) noexcept {
    for (const auto& e : k_languages)
        if (e.id == id) return e.culture;
    return std::nullopt;
}

std::optional<std::int32_t> language_of(std::wstring_view culture) noexcept {
    for (const auto& e : k_languages)
        if (e.culture == culture) return e.id;
    return std::nullopt;
}

bool is_known_language(std::int32_t id) noexcept { return culture_of(id).has_value(); }

}  // namespace qzr::sfx
