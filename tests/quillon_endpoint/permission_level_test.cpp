#include <gtest/gtest.h>

#include "quillon/api/endpoint/permission_level.h"

using quillon::permissionLevel;

TEST(PermissionLevel, OnlyTheEndingOfTheScriptNameCounts)
{
    EXPECT_EQ(permissionLevel("/local/quillon/operator.cgi"), 1);
    EXPECT_EQ(permissionLevel("/local/quillon/operator.fcgi"), 1);
    EXPECT_EQ(permissionLevel("/local/quillon/admin.cgi"), 2);
    EXPECT_EQ(permissionLevel("/local/quillon/settings.fcgi"), 2);
    EXPECT_EQ(permissionLevel("/admin.cgi/operator.cgi"), 1);
    EXPECT_EQ(permissionLevel("/local/quillon/viewer.cgi"), 0);
    EXPECT_EQ(permissionLevel("/local/quillon/admin.fcgi"), 0);
    EXPECT_EQ(permissionLevel("/local/quillon/settings.cgi"), 0);
    EXPECT_EQ(permissionLevel("/local/quillon/admin.cgi.bak"), 0);
    EXPECT_EQ(permissionLevel("xadmin.cgi"), 2);
    EXPECT_EQ(permissionLevel(""), 0);
}
