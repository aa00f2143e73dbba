// The FastCGI socket quillon creates itself (no socket passed in) is open to
// every local user, as the web server of any account must reach it.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "quillon_server.h"

TEST(QuillonSocket, OwnSocketIsReadableAndWritableByAll)
{
    QuillonServer server(kActiveConf);
    struct stat st {
    };
    ASSERT_EQ(stat(server.socketPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0777u);
    EXPECT_EQ(st.st_uid, geteuid());
}
