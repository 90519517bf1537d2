#include "veltro_sfx_lib/setup/microstub.hpp"

#include <windows.h>
#include <winternl.h>

#include <vector>

#include "framework/path.hpp"
#include "framework/utf.hpp"
#include "log/logger.hpp"
#include "veltro_sfx_lib/payload/payload_intf.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"
#include "veltro_sfx_lib/setup/preparation_rules.hpp"
#include "win/file_lock.hpp"
#include "win/file_system.hpp"
#include "win/handle.hpp"
#include "win/system_error.hpp"

namespace qzr::sfx {

namespace {

using query_information_fn = LONG(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

std::wstring parent_image() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll");
    const auto query = ntdll ? reinterpret_cast<query_information_fn>(reinterpret_cast<void*>(
                                   ::GetProcAddress(ntdll, "NtQueryInformationProcess")))
                             : nullptr;
    if (!query) throw exceptions::error(L"GetProcAddress (%s)", L"NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION info{};
    if (query(::GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info, nullptr) != 0)
        throw exceptions::error("Unable to query the parent process!");
    const DWORD parent = static_cast<DWORD>(info.InheritedFromUniqueProcessId);
    win::handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent));
    if (!process) win::raise_last_error(L"Unable to open the parent process %u!", parent);
    wchar_t image[MAX_PATH * 2];
    DWORD size = static_cast<DWORD>(std::size(image));
    if (!::QueryFullProcessImageNameW(process.get(), 0, image, &size))
        win::raise_last_error(L"Unable to read the image of process %u!", parent);
    return std::wstring(image, size);
}

}  // namespace

bool microstub::verify() {
    verified_ = false;
    image_lock_.reset();
    if (!command || !command->has(L"edat_dir")) return false;
    try {
        const std::wstring image = parent_image();
        // Held from the check for as long as this object trusts the parent:
        // the verified image cannot be replaced or rewritten meanwhile.
        auto lock = std::make_shared<win::file_handle>(win::lock_against_writers(image));
        if (!*lock) win::raise_last_error(L"Unable to hold the image '%ls' of the parent process!", image);
        verified_ = verifier_->create()->dsa_signed_any(image);
        if (verified_) image_lock_ = std::move(lock);
        QZR_LOG_INFO(L"DSA for microstub verified with result '%d'", verified_ ? 1 : 0);
    } catch (const exceptions::detail::base&) {
        verified_ = false;
    }
    return verified_;
}

std::wstring microstub::get_cookie() {
    constexpr LONGLONG largest_cookie = 64 * 1024;
    if (!verified_) {
        QZR_LOG_WARNING(L"Microstub not DSA verified, skip get cookie");
        return std::wstring();
    }
    try {
        const auto folder = command->find(L"edat_dir");
        if (!folder || folder->empty() || !win::is_directory(*folder)) return std::wstring();
        const std::wstring file = path::join(*folder, L"ecoo.edat");
        if (!win::exists(file) || win::is_directory(file)) return std::wstring();
        win::file_handle h(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!h) win::raise_last_error(L"get_file_content '%ls'", file);
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(h.get(), &size) || size.QuadPart >= 0x80000000LL)
            throw exceptions::error(L"get_file_content '%ls'", file);
        // A cookie is a short token. One larger than this is not one, and
        // reading it whole could exhaust a 32-bit process: it is ignored.
        if (size.QuadPart > largest_cookie) {
            QZR_LOG_WARNING(L"Cookie file '%s' is too large, skip it", file);
            return std::wstring();
        }
        std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
        DWORD got = 0;
        if (!bytes.empty() && (!::ReadFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                               got != bytes.size()))
            win::raise_last_error(L"get_file_content: ReadFile");
        return utf::from_utf8(bytes);
    } catch (const exceptions::detail::base&) {
        return std::wstring();
    }
}

void microstub::copy_edat_files() {
    if (!verified_) {
        QZR_LOG_WARNING(L"Microstub not DSA verified, skip copy edat files");
        return;
    }
    try {
        const auto folder = command->find(L"edat_dir");
        if (!folder) return;
        const std::wstring tmp = params->get(keys::tmp_path, L"");
        WIN32_FIND_DATAW data{};
        win::find_handle listing(::FindFirstFileW(path::join(*folder, L"*.edat").c_str(), &data));
        if (!listing) return;
        do {
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            // A link there would have the elevated stub copy whatever it
            // points at into a folder users can read.
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                QZR_LOG_WARNING(L"EDAT file '%s' is a link, skip", data.cFileName);
                continue;
            }
            const std::wstring source = path::join(*folder, data.cFileName);
            const std::wstring target = path::join(tmp, data.cFileName);
            if (!::CopyFileW(source.c_str(), target.c_str(), FALSE))
                QZR_LOG_ERROR(L"Copy edat file '%s'->'%s' fail %d", source, target, static_cast<std::int32_t>(::GetLastError()));
        } while (::FindNextFileW(listing.get(), &data));
    } catch (const exceptions::detail::base&) {
        QZR_LOG_ERROR(L"Copy microstub edat file fail.");
    }
}

void sfx_edat::unpack() {
    try {
        const std::wstring folder = params->get(keys::tmp_path, L"");
        for (const std::wstring& alias : payload->aliases()) {
            if (utf::ifind(alias, L".edat") == std::wstring::npos) continue;
            QZR_LOG_DEBUG(L"Unpacking EDAT (%s)", alias);
            const auto entry = payload->find_by_alias(alias);
            if (!entry) {
                QZR_LOG_INFO(L"EDAT not in payload (%s)", alias);
                continue;
            }
            if (!is_safe_relative_name(alias)) {
                QZR_LOG_ERROR(L"EDAT alias '%s' would leave the temporary folder, skip", alias);
                continue;
            }
            const std::wstring target = path::join(folder, alias);
            const std::wstring parent = path::parent(target);
            if (!win::create_directories(parent)) {
                const DWORD err = ::GetLastError();  // the failing creation's own error
                QZR_LOG_ERROR(L"Create EDAT directory '%s' fail %u (%s), skip", parent, err, alias);
                continue;
            }
            entry->unpack_to_file(target);
        }
    } catch (const std::exception&) {
        QZR_LOG_ERROR(L"Unpacking EDAT end with exception.");
    }
}

}  // namespace qzr::sfx
