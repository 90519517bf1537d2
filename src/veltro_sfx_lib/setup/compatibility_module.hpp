// Asking a product's compatibility module (veltro_mod.dll) which channel
// this machine should get.
#pragma once

#include <string>

namespace qzr::sfx {

// The module's answer when it names another channel than current; empty
// when it names the same one, cannot be loaded, lacks the export or fails.
std::wstring ask_channel(const std::wstring& module_path, const std::wstring& product, const std::wstring& current);

}  // namespace qzr::sfx
