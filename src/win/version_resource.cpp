#include "win/version_resource.hpp"

#include <windows.h>

#include <vector>

#include "framework/text_format.hpp"

namespace qzr::win {

namespace {

std::vector<std::uint8_t> read_block(const std::wstring& file) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (!size) return {};
    std::vector<std::uint8_t> block(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return {};
    return block;
}

}  // namespace

std::optional<std::wstring> version_string(const std::wstring& file, const std::wstring& name) {
    auto block = read_block(file);
    if (block.empty()) return std::nullopt;
    struct translation {
        WORD language;
        WORD code_page;
    };
    translation* tr = nullptr;
    UINT tr_len = 0;
    if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&tr), &tr_len) ||
        tr_len < sizeof(translation))
        return std::nullopt;
    const std::wstring query =
        text::format(L"\\StringFileInfo\\%04x%04x\\%s", tr[0].language, tr[0].code_page, name);
    wchar_t* value = nullptr;
    UINT value_len = 0;
    if (!::VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &value_len) || !value)
        return std::nullopt;
    std::wstring out(value, value_len);
    while (!out.empty() && out.back() == L'\0') out.pop_back();
    return out;
}

std::optional<std::array<std::uint16_t, 4>> file_version(const std::wstring& file) {
    auto block = read_block(file);
    if (block.empty()) return std::nullopt;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &len) || len < sizeof *info)
        return std::nullopt;
    return std::array<std::uint16_t, 4>{HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                                        HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
}

}  // namespace qzr::win
