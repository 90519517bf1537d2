// What the clean-up of temporary folders may touch. The system's temporary
// folder is shared with every local user, who may plant a run file of their
// own beside a junction of the same name: the elevated stub must then
// remove the link, never what it points at.
#pragma once

#include <cstdint>
#include <string_view>

namespace qzr::sfx::run_folders {

inline constexpr std::uint32_t directory_attribute = 0x10;      // FILE_ATTRIBUTE_DIRECTORY
inline constexpr std::uint32_t reparse_point_attribute = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT

// Whether name is exactly a run file as a run names it: "qzr-", a UUID in
// lower-case hexadecimal (8-4-4-4-12), ".run".
bool is_run_file_name(std::wstring_view name) noexcept;

// What a recursive removal does with an entry it lists (attributes as the
// listing gives them, which are the entry's own, not a link's target's).
enum class removal {
    delete_file,     // a file, or a link to one: its name goes
    descend,         // a real folder: its entries first, then the folder
    remove_link,     // a link to a folder (a junction): the link goes, nothing behind it
};
removal removal_of(std::uint32_t attributes) noexcept;

// Whether the folder of an abandoned run file may be removed: a real folder,
// no link, owned by Administrators or the system (owner_trusted). A folder
// any user could have made is left alone.
bool may_sweep(std::uint32_t attributes, bool owner_trusted) noexcept;

}  // namespace qzr::sfx::run_folders
