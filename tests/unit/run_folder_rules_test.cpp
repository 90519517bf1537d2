// What the clean-up of earlier runs' folders may remove, stated for the
// entries a planted link or a foreign folder shows it.
#include <gtest/gtest.h>

#include "veltro_sfx_lib/payload/run_folder_rules.hpp"

using namespace qzr::sfx::run_folders;

TEST(RunFolderRules, OnlyRunFilesNamedExactlyAsRunsNameThem) {
    EXPECT_TRUE(is_run_file_name(L"qzr-0123abcd-4567-89ef-0a1b-2c3d4e5f6a7b.run"));
    for (const wchar_t* name : {L"qzr-.run", L"qzr-killed.run", L"qzr-0123ABCD-4567-89ef-0a1b-2c3d4e5f6a7b.run",
                                L"qzr-0123abcd-4567-89ef-0a1b-2c3d4e5f6a7b.run.run",
                                L"qzr-0123abcd-4567-89ef-0a1b-2c3d4e5f6a7.run", L"qzr-0123abcd+4567-89ef-0a1b-2c3d4e5f6a7b.run",
                                L"qzr-0123abcd-4567-89ef-0a1b-2c3d4e5f6a7g.run", L"qzr-0123abcd-4567-89ef-0a1b-2c3d4e5f6a7b.RUN",
                                L"xqzr-0123abcd-4567-89ef-0a1b-2c3d4e5f6a7b.run", L"qzr-0123abcd-4567-89ef-0a1b-2c3d4e5f6a7b"})
        EXPECT_FALSE(is_run_file_name(name)) << name;
}

TEST(RunFolderRules, LinksGoThemselvesAndOnlyRealFoldersOfAdministratorsAreSwept) {
    const std::uint32_t file = 0x20, folder = directory_attribute, link = reparse_point_attribute;
    EXPECT_EQ(removal_of(file), removal::delete_file);
    EXPECT_EQ(removal_of(file | link), removal::delete_file) << "a file link's name, not its target";
    EXPECT_EQ(removal_of(folder), removal::descend);
    EXPECT_EQ(removal_of(folder | link), removal::remove_link) << "a junction is never descended into";
    EXPECT_EQ(removal_of(folder | link | 0x20), removal::remove_link);

    EXPECT_TRUE(may_sweep(folder, true));
    EXPECT_FALSE(may_sweep(folder, false)) << "a folder any user could have made";
    EXPECT_FALSE(may_sweep(folder | link, true)) << "a junction planted as the abandoned folder";
    EXPECT_FALSE(may_sweep(file, true)) << "a file of the folder's name";
}
