// A settings save that fails or is cut short, through the real quillon
// process: the file on disk always parses and holds either the old or the
// new settings, and the API never answers success for a write that failed.

#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "quillon_server.h"
#include "support/http_client.h"
#include "support/wait.h"

using namespace testsupport;
using namespace std::chrono;
using nlohmann::json;

namespace
{

std::string lifespanRequest(int time)
{
    return R"({"method":"setAutotrackingSettings","params":{"minObjectLifespan":{"time":)" +
           std::to_string(time) + R"(,"enabled":true}}})";
}

// The reply's error code, 0 for success, -1 when there was no JSON reply.
int replyCode(const HttpReply& reply)
{
    json parsed = json::parse(reply.body, nullptr, false);
    if (reply.status != 200 || !parsed.is_object())
        return -1;
    return parsed.contains("error") ? parsed["error"].value("code", -1) : 0;
}

// minObjectLifespan.time in settings.conf; -1 when the file is missing or
// does not parse.
int storedLifespan(const std::string& root)
{
    std::string path = root + "/etc/quillon/settings.conf";
    if (!std::filesystem::exists(path))
        return -1;
    json parsed = json::parse(readFile(path), nullptr, false);
    if (!parsed.is_object() || !parsed["minObjectLifespan"].is_object())
        return -1;
    return parsed["minObjectLifespan"].value("time", -1);
}

} // namespace

// Each step of the save fails in turn through a preloaded shim: writing the
// temporary file, syncing it, GLib's rename into "<file>.tmp", the rename
// over the file. The method answers an error, the file keeps the old
// settings, and the next save once the disk recovers succeeds.
TEST(SettingsSaveFaults, AFailedStepIsAnErrorAndKeepsTheOldFile)
{
    TempDir control("fault-control");
    std::string controlFile = control.file("fail");
    writeFile(controlFile, "");
    QuillonServer server(kActiveConf, {},
                         {{"LD_PRELOAD", FAULT_SHIM},
                          {"PTZ_FAULT_PATH", "/etc/quillon/"},
                          {"PTZ_FAULT_CONTROL", controlFile}});
    std::string admin = server.url("/local/quillon/admin.cgi");
    ASSERT_EQ(replyCode(httpPost(admin, lifespanRequest(2))), 0) << server.process().output();
    ASSERT_EQ(storedLifespan(server.root()), 2);

    for (const char* step : {"write", "fsync", "rename .tmp", "rename .conf"}) {
        SCOPED_TRACE(step);
        writeFile(controlFile, step);
        EXPECT_EQ(replyCode(httpPost(admin, lifespanRequest(3))), 1003)
            << server.process().output();
        EXPECT_EQ(storedLifespan(server.root()), 2);
        EXPECT_EQ(
            replyCode(httpPost(
                admin,
                R"({"method":"setApplicationSettings","params":{"service":{"active":true}}})")),
            1003);

        writeFile(controlFile, "");
        EXPECT_EQ(replyCode(httpPost(admin, lifespanRequest(3))), 0);
        EXPECT_EQ(storedLifespan(server.root()), 3);
        ASSERT_EQ(replyCode(httpPost(admin, lifespanRequest(2))), 0);
        EXPECT_EQ(storedLifespan(server.root()), 2);
    }
    EXPECT_TRUE(server.process().running()) << server.process().output();
    EXPECT_NE(server.process().output().find("Could not write file"), std::string::npos);
    EXPECT_NE(server.process().output().find("Rename file"), std::string::npos);
}

// quillon is killed (SIGKILL) at random moments while saves follow each
// other: after every kill settings.conf parses and holds one of the two
// values that were being written.
TEST(SettingsSaveFaults, KilledDuringRepeatedSavesLeavesAWholeFile)
{
    TempDir dir("quillon-kill");
    std::string root = dir.path() + "/root";
    std::string socket = dir.path() + "/quillon.sock";
    std::filesystem::create_directories(root + "/etc/quillon");
    writeFile(root + "/etc/quillon/application.conf", kActiveConf);
    Lighttpd web(dir.path() + "/web", quillonRoutes(socket));
    std::string admin = web.url("/local/quillon/admin.cgi");
    std::mt19937 random(19);
    int answered = 0;

    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ChildProcess quillon(
            {QUILLON_BIN},
            {{"CAMROOT", root}, {"QUILLON_LOG_STDERR", "1"}, {"FCGI_SOCKET_NAME", socket}});
        // The first answered save shows the process is serving.
        ASSERT_TRUE(waitFor([&] { return replyCode(httpPost(admin, lifespanRequest(2))) == 0; },
                            seconds(20)))
            << quillon.output();
        std::atomic<bool> stop{false};
        std::thread load([&] {
            for (int i = 0; !stop; ++i)
                if (replyCode(httpPost(admin, lifespanRequest(2 + i % 2))) == 0)
                    ++answered;
        });
        std::this_thread::sleep_for(milliseconds(50 + random() % 400));
        quillon.stop(SIGKILL);
        stop = true;
        load.join();
        int stored = storedLifespan(root);
        EXPECT_TRUE(stored == 2 || stored == 3) << readFile(root + "/etc/quillon/settings.conf");
    }
    EXPECT_GT(answered, 0);
}
