#include "veltro_sfx_lib/setup/compatibility_module.hpp"

#include <windows.h>

#include <vector>

#include "framework/errors.hpp"
#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "log/logger.hpp"
#include "veltro_sfx_lib/setup/veltro_mod.h"
#include "win/file_lock.hpp"
#include "win/handle.hpp"

namespace qzr::sfx {

namespace {

constexpr DWORD more_data = 234;  // ERROR_MORE_DATA: the length was updated
constexpr DWORD largest_answer = 32 * 1024;  // characters, as veltro_mod.h promises

}  // namespace

std::wstring ask_channel(const std::wstring& module_path, verify_signature_intf& verifier, const std::wstring& product,
                         const std::wstring& current) {
    win::module_handle module;
    DWORD load_error = 0;
    {
        const win::file_handle lock = win::lock_against_writers(module_path);
        if (!lock) {
            const DWORD err = ::GetLastError();
            QZR_LOG_ERROR(L"Open file '%s' for DSA check fail  %u!", module_path, err);
            throw qzr::exceptions::error(static_cast<std::int32_t>(err), "Open file for DSA check fail!");
        }
        if (!verifier.dsa_signed(module_path))
            throw qzr::exceptions::error(L"MOD.dll '%s' is not DSA signed!", module_path);
        // By its full path in the protected folder only: a bare name would be
        // looked up along the search path.
        if (path::is_absolute(module_path)) module.reset(::LoadLibraryW(module_path.c_str()));
        else ::SetLastError(ERROR_BAD_PATHNAME);
        if (!module) load_error = ::GetLastError();
    }
    if (!module) {
        QZR_LOG_ERROR(L"Loading MOD:'%s' fail %u.", module_path, load_error);
        return std::wstring();
    }
    const auto check = reinterpret_cast<veltro_mod_check_channel_fn>(
        reinterpret_cast<void*>(::GetProcAddress(module.get(), VELTRO_MOD_CHECK_CHANNEL_EXPORT)));
    if (!check) {
        QZR_LOG_ERROR(L"MOD.dll function not found");
        return std::wstring();
    }
    DWORD length = 100;
    std::vector<wchar_t> buffer(length + 1, L'\0');
    DWORD result = check(product.c_str(), current.c_str(), buffer.data(), &length, 0);
    if (result == more_data) {
        // The module names the length it needs; a channel name is short, and
        // a length near the top of the range would wrap in 32 bits.
        if (length > largest_answer) {
            QZR_LOG_ERROR(L"MOD.dll asks for a buffer of %u characters", length);
            return std::wstring();
        }
        buffer.assign(static_cast<std::size_t>(length) + 1, L'\0');
        result = check(product.c_str(), current.c_str(), buffer.data(), &length, 0);
    }
    if (result != 0) {
        QZR_LOG_ERROR(L"Calling MOD.dll function fail %u", result);
        return std::wstring();
    }
    buffer.back() = L'\0';
    const std::wstring answer(buffer.data());
    return utf::iequals(answer, current) ? std::wstring() : answer;
}

}  // namespace qzr::sfx
