// Fuzz driver for the translator's lookups. The input is three UTF-8 lines,
// then the string-table document: the identifier, the culture name (a
// language the stub knows, else read as a language number), the arguments
// separated by '|'. The document is compressed here as the build compresses
// the shipped table. Construction and lookups never raise: a damaged table
// answers every identifier with itself.
// Seeds: parts of the shipped table and identifiers it holds (make_seeds).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "framework/byte_view.hpp"
#include "framework/lzma_codec.hpp"
#include "framework/utf.hpp"
#include "fuzz_support.hpp"
#include "veltro_sfx_lib/ui/sfx_languages.hpp"
#include "veltro_sfx_lib/ui/sfx_translator.hpp"

using namespace qzr;

namespace {

std::int32_t language_of_text(const std::wstring& culture) {
    if (const auto known = sfx::language_of(culture)) return *known;
    std::uint32_t number = 0;
    for (const wchar_t c : culture) number = number * 10 + static_cast<std::uint32_t>(c - L'0');
    return static_cast<std::int32_t>(number);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::fields in(data, size);
    const std::wstring id = utf::from_utf8(in.next());
    const std::int32_t language = language_of_text(utf::from_utf8(in.next()));
    std::vector<std::wstring> args;
    for (fuzz::fields list(in.next()); !list.empty();) args.push_back(utf::from_utf8(list.next('|')));
    const std::string_view table = in.rest();

    // Level 0: the cheapest encoding; every level decodes alike.
    const std::vector<std::uint8_t> compressed =
        packers::lzma_encode(std::span(reinterpret_cast<const std::uint8_t*>(table.data()), table.size()), 0);
    const sfx::sfx_translator translator(language, byte_view(compressed));
    (void)translator.translate(id);
    (void)translator.translate(id, args);
    return 0;
}
