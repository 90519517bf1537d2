#include <windows.h>

#include "framework/file_writer.hpp"
#include "win/handle.hpp"
#include "win/security_descriptor.hpp"
#include "win/system_error.hpp"

namespace qzr::files {

namespace {

void write_file(const std::wstring& path, std::span<const std::uint8_t> data, SECURITY_ATTRIBUTES* security) {
    win::file_handle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, security,
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

}  // namespace

void write_whole_file(const std::wstring& path, std::span<const std::uint8_t> data) { write_file(path, data, nullptr); }

void write_private_file(const std::wstring& path, std::span<const std::uint8_t> data) {
    // A file replaced in place keeps its old access list: the secret goes
    // into a file of its own.
    ::DeleteFileW(path.c_str());
    const win::local_memory sd = win::security_descriptor(win::private_file_sddl);
    SECURITY_ATTRIBUTES sa{sizeof sa, sd.get(), FALSE};
    write_file(path, data, &sa);
}

}  // namespace qzr::files
