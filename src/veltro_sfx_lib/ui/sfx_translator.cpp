#include "veltro_sfx_lib/ui/sfx_translator.hpp"

#include <exception>

#include "framework/lzma_codec.hpp"
#include "framework/text_format.hpp"
#include "framework/xml_path.hpp"
#include "veltro_sfx_lib/ui/sfx_languages.hpp"

namespace qzr::sfx {

std::wstring replace_arguments(std::wstring text, const std::vector<std::wstring>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring marker = text::format(L"{%d}", static_cast<std::int32_t>(i));
        for (std::size_t pos = text.find(marker); pos != std::wstring::npos;
             pos = text.find(marker, pos + args[i].size())) {
            text.replace(pos, marker.size(), args[i]);
        }
    }
    return text;
}

namespace {

// The first "language" element with the culture inside the first
// "identifier" elements with the identifier, in document order.
pugi::xml_node find_language(const pugi::xml_document& table, std::wstring_view id, std::wstring_view culture) {
    pugi::xml_node found;
    xml::each_along(table, {L"identifiers", L"identifier"}, [&](pugi::xml_node identifier) {
        if (!xml::has_attribute(identifier, L"id", id)) return true;
        for (const pugi::xml_node language : identifier.children(L"language"))
            if (xml::has_attribute(language, L"lang", culture)) {
                found = language;
                return false;
            }
        return true;
    });
    return found;
}

}  // namespace

sfx_translator::sfx_translator(std::int32_t language, byte_view compressed_table) noexcept : language_(language) {
    try {
        if (compressed_table.empty()) return;
        const std::vector<std::uint8_t> xml = packers::lzma_decode(compressed_table);
        if (!table_.load_buffer(xml.data(), xml.size())) table_.reset();
    } catch (const std::exception&) {
        table_.reset();
    }
}

std::wstring sfx_translator::translate(const std::wstring& id) const {
    // The identifier and the culture are compared as texts, never made
    // part of a query: an identifier that is a plain message (a path, a
    // server's text) with quotes in it cannot select another entry.
    const std::wstring_view culture = culture_of(language_).value_or(L"en-us");
    const pugi::xml_node found = find_language(table_, id, culture);
    if (found) return found.text().get();
    if (const pugi::xml_node english = find_language(table_, id, L"en-us")) return english.text().get();
    return id;
}

std::wstring sfx_translator::translate(const std::wstring& id, const std::vector<std::wstring>& args) const {
    return replace_arguments(translate(id), args);
}

}  // namespace qzr::sfx
