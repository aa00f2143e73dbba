#include <stdlib.h>

#include <gtest/gtest.h>

#include "quillon/core/paths.h"

using namespace quillon;

TEST(CamPath, AbsolutePathsGoUnderCamrootWhenSet)
{
    setenv("CAMROOT", "/tmp/root/", 1);
    EXPECT_EQ(camPath("/etc/quillon/settings.conf"), "/tmp/root/etc/quillon/settings.conf");
    EXPECT_EQ(camPath("relative/file"), "relative/file");
    EXPECT_EQ(camPath(""), "");
    setenv("CAMROOT", "", 1);
    EXPECT_EQ(camPath("/etc/quillon/settings.conf"), "/etc/quillon/settings.conf");
    unsetenv("CAMROOT");
    EXPECT_EQ(camPath("/etc/quillon/settings.conf"), "/etc/quillon/settings.conf");
}
