#include "veltro_sfx_lib/payload/temp_dir.hpp"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

#include "framework/path.hpp"
#include "framework/uuid.hpp"
#include "log/logger.hpp"
#include "veltro_sfx_lib/payload/run_folder_rules.hpp"
#include "win/file_system.hpp"
#include "win/handle.hpp"
#include "win/system_error.hpp"

namespace qzr::sfx {

namespace {

constexpr wchar_t run_suffix[] = L".run";

// Deletes a run file through its handle (opened with delete access), then
// closes it.
void drop_run_marker(win::file_handle& marker) noexcept {
    if (!marker) return;
    FILE_DISPOSITION_INFO info{TRUE};
    ::SetFileInformationByHandle(marker.get(), FileDispositionInfo, &info, sizeof info);
    marker.reset();
}

constexpr DWORD kept_attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Opens a folder itself (never a link's target) to look at it.
win::file_handle open_to_inspect(const std::wstring& folder) {
    return win::file_handle(::CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
}

bool owned_by_administrators_or_system(HANDLE object) noexcept {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (::GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &raw) != ERROR_SUCCESS)
        return false;
    const win::local_memory sd(raw);
    return owner && (::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(owner, WinLocalSystemSid));
}

// The Windows directory's Temp folder.
std::wstring windows_temp() {
    wchar_t windows_dir[MAX_PATH + 1] = {};
    const UINT len = ::GetWindowsDirectoryW(windows_dir, MAX_PATH);
    if (len == 0 || len > MAX_PATH) {
        const DWORD err = ::GetLastError();
        QZR_LOG_ERROR(L"Get window directory fail %u!", err);
        throw qzr::exceptions::error(static_cast<std::int32_t>(err), "Get window directory fail");
    }
    return path::join(windows_dir, L"Temp");
}

}  // namespace

std::shared_ptr<temp_dir_intf> temp_dir::factory::create(bool delete_on_destruction) const {
    return std::make_shared<temp_dir>(delete_on_destruction);
}

temp_dir::temp_dir(bool delete_on_destruction) : temp_dir(delete_on_destruction, windows_temp()) {}

temp_dir::temp_dir(bool delete_on_destruction, const std::wstring& parent)
    : delete_on_destruction_(delete_on_destruction) {
    create_new(parent);
}

win::local_memory temp_dir::owned_security_descriptor() noexcept {
    try {
        return win::security_descriptor(win::administrators_folder_sddl);
    } catch (const std::exception&) {
        return win::local_memory();
    }
}

win::local_memory temp_dir::security_descriptor() {
    PSECURITY_DESCRIPTOR raw_sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &raw_sd, nullptr)) {
        const DWORD err = ::GetLastError();
        QZR_LOG_ERROR(L"Create tmp directory security descriptor fail %u!", err);
        throw qzr::exceptions::error(static_cast<std::int32_t>(err), "Create tmp directory security descriptor fail");
    }
    return win::local_memory(raw_sd);
}

void temp_dir::create_new(const std::wstring& parent) {
    const std::wstring folder = path::join(parent, L"qzr-" + uuid::to_wstring(uuid::random_uuid()));
    // Owned by Administrators, whatever the system's default owner: the
    // clean-up of a later run trusts only folders owned so. A token that may
    // not name that owner gets the default one.
    win::local_memory sd = owned_security_descriptor();
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};

    // The folder's run file first: a folder without one is never taken for
    // abandoned. Without it (it could not be made) the run goes on; only a
    // later clean-up of a kill is lost.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!sd) sd = security_descriptor();
        sa.lpSecurityDescriptor = sd.get();
        run_marker_.reset(::CreateFileW((folder + run_suffix).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, &sa,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (run_marker_ || ::GetLastError() != ERROR_INVALID_OWNER) break;
        sd.reset();
    }
    if (!run_marker_) QZR_LOG_WARNING(L"The run file of '%s' could not be created, %u.", folder, ::GetLastError());

    bool created = ::CreateDirectoryW(folder.c_str(), &sa) != FALSE;
    DWORD err = created ? ERROR_SUCCESS : ::GetLastError();
    if (!created && err == ERROR_ALREADY_EXISTS) {
        created = win::is_directory(folder);
    } else if (!created && err == ERROR_PATH_NOT_FOUND) {
        // On failure the last error is the folder's own creation error.
        created = win::create_directories(folder, sd.get());
        if (!created) err = ::GetLastError();
    }
    if (!created) {
        QZR_LOG_ERROR(L"Create directory '%s' fail %u!", folder, err);
        drop_run_marker(run_marker_);
        throw qzr::exceptions::error(static_cast<std::int32_t>(err), "Create directory fail");
    }
    QZR_LOG_INFO(L"SFX temp folder '%s' created.", folder);
    path_ = folder;
    remove_abandoned(parent);
}

void temp_dir::remove_abandoned(const std::wstring& parent) noexcept {
    try {
        // Where the file system keeps the owner this run gave its own folder,
        // an owner other than Administrators or the system means the folder
        // is someone else's. Where it keeps none (some emulated systems),
        // owners tell nothing and only the other checks apply.
        bool owners_kept = false;
        if (const win::file_handle own = open_to_inspect(path_)) owners_kept = owned_by_administrators_or_system(own.get());

        WIN32_FIND_DATAW entry{};
        const win::find_handle listing(::FindFirstFileW(path::join(parent, L"qzr-*" + std::wstring(run_suffix)).c_str(),
                                                        &entry));
        if (!listing) return;
        do {
            if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
            if (!run_folders::is_run_file_name(entry.cFileName)) continue;
            const std::wstring marker = path::join(parent, entry.cFileName);
            // Held by a live run: a sharing violation. Once opened here it is
            // held by this run alone while the folder goes.
            win::file_handle held(::CreateFileW(marker.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            if (!held) continue;
            const std::wstring folder = marker.substr(0, marker.size() - std::wcslen(run_suffix));
            const win::file_handle inspected = open_to_inspect(folder);
            BY_HANDLE_FILE_INFORMATION info{};
            if (inspected && ::GetFileInformationByHandle(inspected.get(), &info)) {
                const bool owner_trusted = !owners_kept || owned_by_administrators_or_system(inspected.get());
                if (!run_folders::may_sweep(info.dwFileAttributes, owner_trusted)) {
                    QZR_LOG_WARNING(L"The temp folder '%s' of an ended run is a link or not ours; it is left alone.",
                                    folder);
                    continue;
                }
                QZR_LOG_INFO(L"The temp folder '%s' of an ended run is removed.", folder);
                remove(folder);
            }
            drop_run_marker(held);
        } while (::FindNextFileW(listing.get(), &entry));
    } catch (...) {
        // Nothing found here is worth failing a run for.
    }
}

temp_dir::~temp_dir() {
    try {
        if (!delete_on_destruction_) {
            QZR_LOG_DEBUG(L"Skipping temp folder (%s) delete", path_);
        } else if (path_.empty()) {
            QZR_LOG_WARNING(L"Skip temp folder delete, path is empty");
        } else {
            remove(path_);
            QZR_LOG_DEBUG(L"Temp folder (%s) deleted", path_);
        }
    } catch (...) {
        // Deletion never raises out of destruction.
    }
    // Ended as it should: nothing is left for a later run to clean up (a
    // folder kept on purpose stays).
    drop_run_marker(run_marker_);
}

void temp_dir::remove(const std::wstring& folder) {
    if (folder.empty()) {
        QZR_LOG_ERROR(L"Cannot remove empty directory");
        throw qzr::exceptions::error("Cannot remove empty directory");
    }
    // A folder that is itself a link is removed as a link, unlisted.
    if (const DWORD own = ::GetFileAttributesW(folder.c_str());
        own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!((own & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(folder.c_str()) : ::DeleteFileW(folder.c_str())))
            QZR_LOG_INFO(L"Could not delete link '%s', %u!", folder, ::GetLastError());
        return;
    }
    WIN32_FIND_DATAW data{};
    win::find_handle listing(::FindFirstFileW(path::join(folder, L"*").c_str(), &data));
    if (listing) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path::join(folder, name);
            // The listing's attributes are the entry's own: a junction or a
            // link inside goes itself, and nothing it points at.
            const auto what = run_folders::removal_of(data.dwFileAttributes);
            if (what == run_folders::removal::descend) {
                remove(child);
                continue;
            }
            if (what == run_folders::removal::remove_link) {
                if (!::RemoveDirectoryW(child.c_str()))
                    QZR_LOG_INFO(L"Could not delete link '%s', %u!", child, ::GetLastError());
                continue;
            }
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (::DeleteFileW(child.c_str())) continue;
            if (::MoveFileExW(child.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) continue;
            QZR_LOG_INFO(L"Could not delete file '%s', %u!", child, ::GetLastError());
        } while (::FindNextFileW(listing.get(), &data));
    }

    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const DWORD reduced = attributes & kept_attributes;
        ::SetFileAttributesW(folder.c_str(), reduced ? reduced : FILE_ATTRIBUTE_NORMAL);
        DWORD remove_error = ERROR_SUCCESS;
        if (!::RemoveDirectoryW(folder.c_str())) {
            remove_error = ::GetLastError();
            ::Sleep(10);
        }
        if (!win::is_directory(folder)) {
            QZR_LOG_INFO(L"SFX temp folder '%s' deleted.", folder);
        } else {
            QZR_LOG_INFO(L"Could not delete directory '%s', %u, plan it for restart!", folder, remove_error);
            if (!::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
                QZR_LOG_ERROR(L"Folder '%s' delete after reboot fail, %u!", folder, ::GetLastError());
        }
    }
}

}  // namespace qzr::sfx
