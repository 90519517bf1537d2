// Fuzz driver for the signature check: locating the block at the end of a
// file or document (binary versions 2 and 3, the XML comment form), the
// digest of what it covers (with the PE fields left out) and DSA
// verification with the keys the stub trusts. The input is a whole signed
// file (seeds: veltro-pack sign-file, sign-xml and pack with the development
// key, see make_seeds).
// Besides the project's errors, the locator documents one foreign type: a
// text block with a character that is not a hex digit raises
// std::invalid_argument. Anything else escaping is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "framework/errors.hpp"
#include "fuzz_support.hpp"
#include "veltro_sfx_lib/signature/dsa_keys.hpp"
#include "veltro_sfx_lib/signature/signature_block.hpp"

using namespace qzr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::log_everything();
    const byte_view view(data, size);
    try {
        const auto where = sfx::locate_signature(view);
        if (!where) return 0;
        if (where->version != 2 && where->version != 3) std::abort();
        if (where->signed_length > size) std::abort();
        (void)sfx::signed_digest(view, *where);
        // The stub's key set for shipped files and downloads (K4, K5).
        (void)sfx::verify_block(view, sfx::keys::default_key_set);
    } catch (const exceptions::error&) {
    } catch (const std::invalid_argument& e) {
        if (std::strcmp(e.what(), "invalid hex_char_value<char>") != 0) throw;
    }
    return 0;
}
