// Fuzz driver for the payload reader. The input is a whole self-extractor as
// the stub maps it: a PE32 image, the payload behind its last section, the
// signature block (seeds: a tiny stand-in stub packed by veltro-pack, see
// make_seeds). The enumerator and the index raise the project's errors for
// a damaged file and nothing else; every entry they hand out lies inside the
// file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <pugixml.hpp>

#include "framework/errors.hpp"
#include "framework/lzma_codec.hpp"
#include "framework/mapped_file.hpp"
#include "fuzz_support.hpp"
#include "veltro_sfx_lib/payload/payload_enumerator.hpp"
#include "veltro_sfx_lib/payload/payload_index.hpp"

using namespace qzr;

namespace {

constexpr std::uint64_t output_bound = 1 << 20;

// What the stub does with an entry it needs: its bytes, digest checked.
void extract(byte_view image, const sfx::file_info& f) {
    try {
        if (f.flags == sfx::payload_format::reader_lzma) {
            const byte_view data = image.sub(f.offset, f.size);
            if (data.size() >= packers::lzma_header_size &&
                packers::read_lzma_header(data).dictionary_size > fuzz::dictionary_bound)
                return;
            fuzz::bounded_writer out(output_bound);
            sfx::write_entry(image, f, out);
        } else {
            (void)sfx::unpack_entry(image, f);
        }
    } catch (const exceptions::error&) {
    } catch (const fuzz::output_limit&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::log_everything();
    const auto mapping = std::make_shared<files::memory_mapping>(std::vector<std::uint8_t>(data, data + size));
    const byte_view image = mapping->view();
    constexpr std::uint16_t pe32 = sfx::payload_format::pe32_magic;

    try {
        sfx::payload_enumerator entries(mapping, pe32);
        if (entries.payload_start() > image.size()) std::abort();
        for (bool more = entries.first(); more; more = entries.next()) {
            const sfx::file_info& f = *entries.current();
            // The header and name were read in place: the data starts inside
            // the file (its size is checked only when it is read).
            if (f.offset < entries.payload_start() + sfx::payload_format::header_size || f.offset > image.size())
                std::abort();
        }
    } catch (const exceptions::error&) {
    }

    // The lookups the run makes: every listed entry by its alias, or by its
    // digest when it has none, then its bytes.
    try {
        pugi::xml_document doc;
        const sfx::payload_index index(mapping, doc.append_child(L"file-list"), pe32);
        for (const auto& alias : index.aliases()) extract(image, *index.find_by_alias(alias));
        for (const auto file : doc.first_child().children(L"file")) {
            if (!file.child(L"alias").text().empty()) continue;
            if (const auto* f = index.find_by_sha(file.child(L"sha-256").text().get())) extract(image, *f);
        }
    } catch (const exceptions::error&) {
    }
    return 0;
}
