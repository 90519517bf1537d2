#include <windows.h>

#include "framework/file_writer.hpp"
#include "win/handle.hpp"
#include "win/system_error.hpp"

namespace qzr::files {

void write_whole_file(const std::wstring& path, std::span<const std::uint8_t> data) {
    win::file_handle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) win::raise_last_error(L"Unable to create file '%ls'!", path);
    const std::uint8_t* p = data.data();
    std::size_t left = data.size();
    while (left) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(left, 0x40000000));
        DWORD written = 0;
        if (!::WriteFile(file.get(), p, part, &written, nullptr) || written != part) {
            const std::int32_t code = win::last_error();
            FILE_DISPOSITION_INFO info{TRUE};
            ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &info, sizeof info);
            throw exceptions::error(code, L"Unable to write file '%ls'!", path);
        }
        p += part;
        left -= part;
    }
}

}  // namespace qzr::files
