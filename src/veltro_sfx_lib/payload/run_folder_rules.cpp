#include "veltro_sfx_lib/payload/run_folder_rules.hpp"

namespace qzr::sfx::run_folders {

namespace {

constexpr std::wstring_view prefix = L"qzr-", suffix = L".run";

bool lower_hex(wchar_t c) noexcept { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); }

}  // namespace

bool is_run_file_name(std::wstring_view name) noexcept {
    if (name.size() != prefix.size() + 36 + suffix.size() || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - suffix.size()) != suffix)
        return false;
    const std::wstring_view id = name.substr(prefix.size(), 36);
    for (std::size_t i = 0; i < id.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? id[i] != L'-' : !lower_hex(id[i])) return false;
    }
    return true;
}

removal removal_of(std::uint32_t attributes) noexcept {
    const bool folder = attributes & directory_attribute;
    if (attributes & reparse_point_attribute) return folder ? removal::remove_link : removal::delete_file;
    return folder ? removal::descend : removal::delete_file;
}

bool may_sweep(std::uint32_t attributes, bool owner_trusted) noexcept {
    return owner_trusted && removal_of(attributes) == removal::descend;
}

}  // namespace qzr::sfx::run_folders
