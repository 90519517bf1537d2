// The access lists the stub gives what it creates, as SDDL, and the
// descriptors built from them.
#pragma once

#include "win/handle.hpp"

namespace qzr::win {

// Folders of the stub (the run's temporary folder, the log folder): full
// access for LocalSystem and Administrators, read-and-execute for Users,
// inherited by everything inside, nothing from the parent.
inline constexpr const wchar_t* protected_folder_sddl = L"D:P(A;CIOI;GA;;;SY)(A;CIOI;GA;;;BA)(A;CIOI;GRGX;;;BU)";
// The same, owned by Administrators whatever the system's default owner.
inline constexpr const wchar_t* administrators_folder_sddl =
    L"O:BAD:P(A;CIOI;GA;;;SY)(A;CIOI;GA;;;BA)(A;CIOI;GRGX;;;BU)";

// Files that carry secrets (proxy credentials, the cookie): their owner
// (the OWNER RIGHTS identity, S-1-3-4), Administrators and LocalSystem, and
// nobody else.
inline constexpr const wchar_t* private_file_sddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;S-1-3-4)";

// The self-relative descriptor of sddl; raises the system's error.
local_memory security_descriptor(const wchar_t* sddl);

}  // namespace qzr::win
