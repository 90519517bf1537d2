#include "win/security_descriptor.hpp"

#include <sddl.h>

#include "win/system_error.hpp"

namespace qzr::win {

local_memory security_descriptor(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &raw, nullptr))
        raise_last_error(L"Unable to build the security descriptor '%ls'!", sddl);
    return local_memory(raw);
}

}  // namespace qzr::win
