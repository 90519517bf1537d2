// The run's temporary folder under the Windows directory's Temp folder,
// readable by users and writable only by administrators and the system.
#pragma once

#include "veltro_sfx_lib/payload/temp_dir_intf.hpp"
#include "win/handle.hpp"
#include "win/security_descriptor.hpp"

namespace qzr::sfx {

class temp_dir final : public temp_dir_intf {
public:
    struct factory : temp_dir_intf::factory {
        std::shared_ptr<temp_dir_intf> create(bool delete_on_destruction) const override;
    };

    // Protected DACL: full access for LocalSystem and Administrators,
    // read-and-execute for Users, inherited by everything inside.
    static constexpr const wchar_t* sddl = win::protected_folder_sddl;

    // Under the Windows directory's Temp folder.
    explicit temp_dir(bool delete_on_destruction);
    // Under another folder (tests reach places where creation fails).
    temp_dir(bool delete_on_destruction, const std::wstring& parent);
    ~temp_dir() override;
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    std::wstring path() const override { return path_; }

    // Depth-first removal; what cannot be deleted now is scheduled for the
    // next restart. Never stops half-way.
    static void remove(const std::wstring& folder);

    // Removes the folders under parent that runs which ended without their
    // clean-up (killed, or the machine lost power) left behind: a folder's
    // "<name>.run" file beside it is held by its run as long as the run
    // lives, so a folder whose file nobody holds is nobody's. A folder kept
    // on purpose (xperf) has no such file. Only run files named exactly as
    // runs name them count, and only real folders owned by Administrators or
    // the system go; a link goes, never what it points at. Never raises.
    void remove_abandoned(const std::wstring& parent) noexcept;

    // The descriptor the folder is created with, built from sddl; logs and
    // raises when the conversion fails.
    static win::local_memory security_descriptor();
    // The same with Administrators as the owner; empty when it cannot be
    // built.
    static win::local_memory owned_security_descriptor() noexcept;

private:
    void create_new(const std::wstring& parent);

    bool delete_on_destruction_;
    std::wstring path_;
    // "<path>.run", held (readers only) for as long as this run lives.
    win::file_handle run_marker_;
};

}  // namespace qzr::sfx
