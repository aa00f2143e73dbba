// The quillon program as a whole: start-up, idle shutdown, socket activation.

#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "quillon_server.h"
#include "support/http_client.h"
#include "support/wait.h"

using namespace testsupport;
using namespace std::chrono;

namespace
{

const std::string kVersions = R"({"method":"getSupportedVersions","params":{}})";

std::map<std::string, std::string> quillonEnv(const TempDir& dir)
{
    return {{"CAMROOT", dir.path() + "/root"},
            {"QUILLON_LOG_STDERR", "1"},
            {"FCGI_SOCKET_NAME", dir.path() + "/quillon.sock"}};
}

bool exitedCleanly(int status)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

// Without application.conf the application is inactive: the process ends at
// the first idle check, 10 s after start, and writes the defaults. An active
// one keeps running until "active" is set false through the API, and ends 10 s
// after that.
TEST(QuillonProcess, IdleShutdownFollowsTheActiveSetting)
{
    TempDir idleDir("quillon-idle");
    auto started = steady_clock::now();
    ChildProcess idle({QUILLON_BIN}, quillonEnv(idleDir));
    QuillonServer active(kActiveConf);

    int status = idle.waitExit(seconds(20));
    auto lifetime = steady_clock::now() - started;
    EXPECT_TRUE(exitedCleanly(status)) << status << idle.output();
    EXPECT_GE(lifetime, milliseconds(9500));
    EXPECT_LE(lifetime, seconds(16));
    EXPECT_EQ(idleDir.read("root/etc/quillon/application.conf"),
              R"({ "service": { "active": false, "version": "2.6.39+maint+1" } })");
    EXPECT_NE(idle.output().find("Autotracker starting [2.6.39+maint+1]"), std::string::npos);

    ASSERT_TRUE(active.process().running()) << active.process().output();
    auto reply =
        httpPost(active.url("/local/quillon/admin.cgi"),
                 R"({"method":"setApplicationSettings","params":{"service":{"active":false}}})");
    EXPECT_NE(reply.body.find("\"data\": { }"), std::string::npos) << reply.body;
    auto switchedOff = steady_clock::now();
    EXPECT_NE(readFile(active.root() + "/etc/quillon/application.conf").find("\"active\": false"),
              std::string::npos);
    // Still serving during the grace period.
    EXPECT_EQ(httpPost(active.url("/local/quillon/operator.cgi"), kVersions).status, 200);
    status = active.process().waitExit(seconds(20));
    EXPECT_TRUE(exitedCleanly(status)) << status << active.process().output();
    EXPECT_GE(steady_clock::now() - switchedOff, milliseconds(9500));
}

// Switching "active" back on within the grace period cancels the exit.
TEST(QuillonProcess, ReactivationWithinTheGracePeriodKeepsItRunning)
{
    QuillonServer server(""); // no application.conf: idle timer armed at start
    auto reply =
        httpPost(server.url("/local/quillon/admin.cgi"),
                 R"({"method":"setApplicationSettings","params":{"service":{"active":true}}})");
    EXPECT_NE(reply.body.find("\"data\": { }"), std::string::npos) << reply.body;
    std::this_thread::sleep_for(seconds(12));
    EXPECT_TRUE(server.process().running()) << server.process().output();
    EXPECT_EQ(httpPost(server.url("/local/quillon/operator.cgi"), kVersions).status, 200);
}

// With a socket passed by the service manager the program serves on it,
// leaves FCGI_SOCKET_NAME alone, and the idle stop still ends the loop.
TEST(QuillonProcess, ServesAPassedSocketAndStillIdlesOut)
{
    TempDir dir("quillon-activated");
    std::string passed = dir.path() + "/activated.sock";
    // systemd-socket-activate hands on only the variables named with -E.
    std::vector<std::string> argv = {"/usr/bin/systemd-socket-activate", "-l", passed};
    for (const auto& [name, value] : quillonEnv(dir))
        argv.push_back("-E" + name + "=" + value);
    argv.push_back(QUILLON_BIN);
    ChildProcess quillon(argv, quillonEnv(dir));
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(passed); })) << quillon.output();
    Lighttpd web(dir.path() + "/web", quillonRoutes(passed));
    auto reply = httpPost(web.url("/local/quillon/operator.cgi"), kVersions);
    EXPECT_EQ(reply.status, 200) << quillon.output();
    EXPECT_NE(reply.body.find("apiVersions"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/quillon.sock"));

    int status = quillon.waitExit(seconds(20));
    EXPECT_TRUE(exitedCleanly(status)) << status << quillon.output();
    EXPECT_TRUE(dir.exists("root/etc/quillon/application.conf")) << quillon.output();
    EXPECT_NE(quillon.output().find("CGI-in:1:"), std::string::npos) << quillon.output();
}

TEST(QuillonProcess, StartupFailuresAndOptions)
{
    TempDir dir("quillon-startup");
    // No socket name and nothing passed in: the socket cannot be opened.
    auto env = quillonEnv(dir);
    env["FCGI_SOCKET_NAME"] = dir.path() + "/missing/dir/quillon.sock";
    ChildProcess broken({QUILLON_BIN}, env);
    EXPECT_TRUE(exitedCleanly(broken.waitExit(seconds(10)))) << broken.output();
    EXPECT_NE(broken.output().find("CGI warning:  Could not open the FCGX socket\n"),
              std::string::npos)
        << broken.output();
    EXPECT_NE(broken.output().find("CGI failed!\n"), std::string::npos);

    // An unknown option logs the usage and start-up continues.
    ChildProcess unknown({QUILLON_BIN, "-x", "-d"}, quillonEnv(dir));
    EXPECT_TRUE(
        unknown.waitForOutput("Autotracker usage: " + std::string(QUILLON_BIN) + " [-d] \n"))
        << unknown.output();
    EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(dir.path() + "/quillon.sock"); }));
    EXPECT_TRUE(unknown.running());
}
