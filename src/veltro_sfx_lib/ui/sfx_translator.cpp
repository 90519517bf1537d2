#include "veltro_sfx_lib/ui/sfx_translator.hpp"

#include "framework/text_format.hpp"

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

std::wstring sfx_translator::translate(const std::wstring& id) const { return id; }

std::wstring sfx_translator::translate(const std::wstring& id, const std::vector<std::wstring>& args) const {
    return replace_arguments(translate(id), args);
}

}  // namespace qzr::sfx
