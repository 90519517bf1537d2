#include "veltro_sfx_lib/ui/sfx_translator.hpp"

#include <exception>

#include "framework/lzma_codec.hpp"
#include "framework/text_format.hpp"
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
    try {
        // The identifier and the culture reach the query as variables, never
        // as query text: an identifier that is a plain message (a path, a
        // server's text) with quotes in it cannot select another entry.
        const std::wstring culture(culture_of(language_).value_or(L"en-us"));
        pugi::xpath_variable_set vars;
        vars.set(L"id", id.c_str());
        vars.set(L"lang", culture.c_str());
        pugi::xpath_node found =
            pugi::xpath_query(L"/identifiers/identifier[@id=$id]/language[@lang=$lang]", &vars).evaluate_node(table_);
        if (!found)
            found = pugi::xpath_query(L"/identifiers/identifier[@id=$id]/language[@lang='en-us']", &vars)
                        .evaluate_node(table_);
        if (found) return found.node().text().get();
    } catch (const std::exception&) {
        // Out of memory while querying: the identifier is the best answer.
    }
    return id;
}

std::wstring sfx_translator::translate(const std::wstring& id, const std::vector<std::wstring>& args) const {
    return replace_arguments(translate(id), args);
}

}  // namespace qzr::sfx
