// Checks the shared fixtures themselves: a private bus answers and lighttpd
// serves, so failures in other tests point at the code under test.
#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/lighttpd.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"

using namespace testsupport;

TEST(Support, PrivateBusAnswersAsSystemBus)
{
    TempDir dir;
    PrivateBus bus(dir.path());
    ChildProcess call({"/usr/bin/gdbus", "call", "--system", "--dest", "org.freedesktop.DBus",
                       "--object-path", "/org/freedesktop/DBus", "--method",
                       "org.freedesktop.DBus.GetId"});
    EXPECT_EQ(call.waitExit(std::chrono::seconds(10)), 0) << call.output();
}

TEST(Support, LighttpdServesStaticFile)
{
    TempDir dir;
    Lighttpd server(dir.path(), "");
    dir.write("www/hello.txt", "hello");
    HttpReply r = httpGet(server.url("/hello.txt"));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "hello");
}
