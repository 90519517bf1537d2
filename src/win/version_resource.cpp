#include "win/version_resource.hpp"

#include "framework/version_block.hpp"

namespace qzr::win {

namespace {

// The bytes of resource 1 of type RT_VERSION; empty when there is none.
byte_view read_block(HMODULE module) noexcept {
    if (!module) module = ::GetModuleHandleW(nullptr);
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    if (!found) return {};
    const DWORD size = ::SizeofResource(module, found);
    const HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    return data ? byte_view(data, size) : byte_view();
}

}  // namespace

std::optional<std::wstring> version_string(HMODULE module, const std::wstring& name) {
    return version_block::string_value(read_block(module), name);
}

std::optional<std::array<std::uint16_t, 4>> file_version(HMODULE module) {
    return version_block::file_version(read_block(module));
}

}  // namespace qzr::win
