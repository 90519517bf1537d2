// Looking up the texts users see in the string table the executable carries
// (an LZMA-compressed XML document). A text missing in the chosen language
// falls back to US English; identifiers that are not in the table (and plain
// texts) come back unchanged; "{0}", "{1}", ... markers are replaced by the
// arguments in order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "framework/byte_view.hpp"

namespace qzr::sfx {

class sfx_translator_intf {
public:
    virtual std::wstring translate(const std::wstring& id, const std::vector<std::wstring>& args) const = 0;
    virtual std::wstring translate(const std::wstring& id) const = 0;
    virtual ~sfx_translator_intf() = default;
};

// Replaces every "{i}" by args[i], one argument after another, scanning left
// to right and continuing after each inserted text.
std::wstring replace_arguments(std::wstring text, const std::vector<std::wstring>& args);

// The compressed string table of the running executable (resource 300 of
// type "LZMA"); empty when the executable carries none.
byte_view string_table_resource() noexcept;

class sfx_translator final : public sfx_translator_intf {
public:
    struct factory {
        virtual ~factory() = default;
        virtual std::shared_ptr<sfx_translator_intf> create(std::int32_t language) const {
            return std::make_shared<sfx_translator>(language, string_table_resource());
        }
    };

    // Decodes and parses the table; a damaged or missing table leaves an empty
    // document, so every lookup answers with the identifier itself.
    sfx_translator(std::int32_t language, byte_view compressed_table) noexcept;

    std::wstring translate(const std::wstring& id, const std::vector<std::wstring>& args) const override;
    std::wstring translate(const std::wstring& id) const override;
    std::int32_t language() const noexcept { return language_; }

private:
    std::int32_t language_;
    pugi::xml_document table_;
};

}  // namespace qzr::sfx
