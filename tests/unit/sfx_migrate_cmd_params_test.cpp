#include <gtest/gtest.h>

#include "veltro_sfx_lib/run/sfx_migrate_cmd_params.hpp"

using qzr::sfx::sfx_migrate_cmd_params;

TEST(MigrateParams, VerySilentBecomesSilentOnlyWithoutSilent) {
    const sfx_migrate_cmd_params m;
    EXPECT_EQ(m.convert_inno(L"/VERYSILENT"), L"/silent");
    EXPECT_EQ(m.convert_inno(L"/VERYSILENT /SILENT"), L"/VERYSILENT /SILENT");
}

TEST(MigrateParams, LanguageInRawAndRebuiltForm) {
    const sfx_migrate_cmd_params m;
    EXPECT_EQ(m.convert_inno(L"/LANG=l1029 /x"), L" /lang-id:1029 /x");
    EXPECT_EQ(m.convert_inno(L"/LANG=\"L1031\""), L" /lang-id:1031");
    EXPECT_EQ(m.convert_inno(L"/LANG=english"), L"/LANG=english");
    // The text the driver actually receives has been rebuilt with ':'.
    EXPECT_EQ(m.convert_inno(L"/a /LANG:L1031"), L"/a  /lang-id:1031");
    EXPECT_EQ(m.convert_inno(L"/LANG:L1031 /lang-id:1033"), L"/LANG:L1031 /lang-id:1033");
}

TEST(MigrateParams, InstallFolder) {
    const sfx_migrate_cmd_params m;
    EXPECT_EQ(m.convert_inno(L"/DIR=C:\\Apps"), L"/install-path:C:\\Apps");
    EXPECT_EQ(m.convert_inno(L"/DIR:C:\\x"), L"/install-path:C:\\x");
    EXPECT_EQ(m.convert_inno(L"\"/DIR:C:\\Program Files\\X\""), L"\"/install-path:C:\\Program Files\\X\"");
    EXPECT_EQ(m.convert_inno(L"/DIR:C:\\x /install-path:D:\\y"), L"/DIR:C:\\x /install-path:D:\\y");
    EXPECT_EQ(m.convert_inno(L"/DIRECTORY:x"), L"/DIRECTORY:x");
}

TEST(MigrateParams, ClientIdentifier) {
    const sfx_migrate_cmd_params m;
    EXPECT_EQ(m.convert_client_id(L"/GA_CLIENTID:abc"), L"/track-guid:abc");
    EXPECT_EQ(m.convert_client_id(L"/ga_clientid:a /track-guid:b"), L"/ga_clientid:a /track-guid:b");
}
