// Asking a product's compatibility module (veltro_mod.dll) which channel
// this machine should get.
#pragma once

#include <string>

#include "veltro_sfx_lib/signature/verify_signature_intf.hpp"

namespace qzr::sfx {

// The module's answer when it names another channel than current; empty
// when it names the same one, cannot be loaded, lacks the export or fails.
// The module is loaded only when its signature verifies, and it is held
// open against writers from that check until it is loaded, so the file that
// runs is the file that was checked. Raises "MOD.dll '%s' is not DSA
// signed!" when it does not verify, and the open error of the check when it
// cannot be held.
std::wstring ask_channel(const std::wstring& module_path, verify_signature_intf& verifier, const std::wstring& product,
                         const std::wstring& current);

}  // namespace qzr::sfx
