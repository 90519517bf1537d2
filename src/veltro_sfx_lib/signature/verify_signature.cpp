#include "veltro_sfx_lib/signature/verify_signature.hpp"

#include <windows.h>

#include "log/logger.hpp"
#include "veltro_sfx_lib/signature/dsa_keys.hpp"
#include "veltro_sfx_lib/signature/signature_block.hpp"
#include "win/file_source.hpp"
#include "win/handle.hpp"
#include "win/system_error.hpp"

namespace qzr::sfx {

namespace {

// Any failure while locating, hashing or verifying counts as "not signed".
bool check_block(byte_source& data, int key_set) noexcept {
    try {
        return verify_block(data, key_set) != 0;
    } catch (...) {
        return false;
    }
}

bool check_file(HANDLE file, int key_set) noexcept {
    try {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file, &size)) win::raise_last_error(L"Unable to get file size!");
        if (size.QuadPart == 0) return false;
        if (static_cast<std::uint64_t>(size.QuadPart) >= 0x100000000ull)
            throw exceptions::error(exceptions::invalid_parameter_code, "narrowing_error");
        // Read through a bounded window: files of any size cost the same memory.
        files::file_source source(file);
        return check_block(source, key_set);
    } catch (...) {
        return false;
    }
}

bool check_path(const std::wstring& path, int key_set) {
    win::file_handle file(::CreateFileW(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD err = ::GetLastError();
        QZR_LOG_ERROR(L"Open file '%s' for DSA check fail  %u!", path, err);
        throw exceptions::error(static_cast<std::int32_t>(err), "Open file for DSA check fail!");
    }
    const bool ok = check_file(file.get(), key_set);
    QZR_LOG_DEBUG(L"DSA for file '%s' verified with result '%d'", path, ok ? 1 : 0);
    return ok;
}

}  // namespace

bool verify_signature::dsa_signed_handle(void* file) {
    const bool ok = check_file(static_cast<HANDLE>(file), keys::default_key_set);
    QZR_LOG_DEBUG(L"DSA for file verified with result '%d'", ok ? 1 : 0);
    return ok;
}

bool verify_signature::dsa_signed_block(const std::uint8_t* data, std::size_t size) {
    if (!data) return false;
    view_source source(byte_view(data, size));
    return dsa_signed_source(source);
}

bool verify_signature::dsa_signed_source(byte_source& data) {
    const bool ok = data.size() != 0 && check_block(data, keys::default_key_set);
    QZR_LOG_DEBUG(L"DSA for block with size '%d' verified with result '%d'", static_cast<std::int64_t>(data.size()),
                  ok ? 1 : 0);
    return ok;
}

bool verify_signature::dsa_signed(const std::wstring& path) { return check_path(path, keys::default_key_set); }

bool verify_signature::dsa_signed_any(const std::wstring& path) { return check_path(path, keys::any_key_set); }

}  // namespace qzr::sfx
