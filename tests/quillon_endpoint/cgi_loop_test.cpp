// The request loop in-process: stop() against a waiting loop and against a
// request in progress, and the request object's guards.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "quillon/api/endpoint/cgi_handler.h"
#include "quillon/api/endpoint/cgi_request.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"

using namespace quillon;
using namespace testsupport;
using namespace std::chrono;

namespace
{

// Runs a CGIHandler on its own thread (the thread that constructs it owns the
// request lock and must run the loop).
class LoopThread
{
public:
    LoopThread(const std::string& socket, ApiProcessor api)
    {
        std::promise<CGIHandler*> ready;
        auto started = ready.get_future();
        thread = std::thread([&, socket, api] {
            CGIHandler cgi(socket, [api] { return api; });
            bool ok = cgi.start();
            ready.set_value(ok ? &cgi : nullptr);
            if (ok)
                result = cgi.run();
            finished = true;
            // Keep the handler alive until the test is done with it.
            while (!release)
                std::this_thread::sleep_for(milliseconds(5));
        });
        handler = started.get();
    }
    ~LoopThread()
    {
        release = true;
        thread.join();
    }

    CGIHandler* handler = nullptr;
    std::atomic<bool> finished{false};
    std::atomic<bool> release{false};
    int result = 0;

private:
    std::thread thread;
};

std::unique_ptr<ChildProcess> emptyPost(const std::string& socket)
{
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/cgi-fcgi", "-bind", "-connect", socket},
        std::map<std::string, std::string>{{"REQUEST_METHOD", "POST"},
                                           {"SCRIPT_NAME", "/local/quillon/admin.cgi"},
                                           {"CONTENT_LENGTH", "0"}});
}

} // namespace

TEST(CgiLoop, StopWhileWaitingEndsTheLoop)
{
    TempDir dir("cgi-loop");
    LoopThread loop(dir.file("q.sock"), [](const std::string&, int) { return std::string("{}"); });
    ASSERT_NE(loop.handler, nullptr);
    EXPECT_TRUE(std::filesystem::exists(dir.file("q.sock")));
    std::this_thread::sleep_for(milliseconds(50));
    loop.handler->stop();
    EXPECT_TRUE(waitFor([&] { return loop.finished.load(); }, seconds(5)));
    EXPECT_NE(loop.result, 0);
}

TEST(CgiLoop, StopDuringARequestWaitsForItsReply)
{
    TempDir dir("cgi-loop");
    std::atomic<bool> entered{false};
    std::atomic<bool> done{false};
    LoopThread loop(dir.file("q.sock"), [&](const std::string& body, int level) {
        entered = true;
        std::this_thread::sleep_for(milliseconds(300));
        done = true;
        return "{\"level\": " + std::to_string(level) +
               ", \"length\": " + std::to_string(body.size()) + "}";
    });
    ASSERT_NE(loop.handler, nullptr);
    auto client = emptyPost(dir.file("q.sock"));
    ASSERT_TRUE(waitFor([&] { return entered.load(); }, seconds(5))) << client->output();
    loop.handler->stop();
    EXPECT_TRUE(done); // stop() returned only after the request was handled
    EXPECT_EQ(client->waitExit(seconds(5)), 0);
    EXPECT_NE(client->output().find("{\"level\": 2, \"length\": 0}"), std::string::npos)
        << client->output();
    EXPECT_TRUE(waitFor([&] { return loop.finished.load(); }, seconds(5)));
}

// stopWhen() hands its condition to the loop and returns at once, also while
// a request is in progress (the idle timer must never wait for a request).
// The loop evaluates it on its own thread after the request: false keeps it
// serving, true ends it.
TEST(CgiLoop, StopWhenNeverWaitsForARequest)
{
    TempDir dir("cgi-loop");
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<bool> answered{false};
    LoopThread loop(dir.file("q.sock"), [&](const std::string&, int) {
        entered = true;
        while (!release)
            std::this_thread::sleep_for(milliseconds(5));
        answered = true;
        return std::string("{}");
    });
    ASSERT_NE(loop.handler, nullptr);
    auto client = emptyPost(dir.file("q.sock"));
    ASSERT_TRUE(waitFor([&] { return entered.load(); }, seconds(5))) << client->output();

    for (bool verdict : {false, true}) {
        SCOPED_TRACE(verdict);
        std::atomic<int> checks{0};
        std::atomic<bool> checkedAfterRequest{false};
        auto handed = std::async(std::launch::async, [&] {
            loop.handler->stopWhen([&, verdict] {
                ++checks;
                checkedAfterRequest = answered.load();
                return verdict;
            });
        });
        ASSERT_EQ(handed.wait_for(seconds(5)), std::future_status::ready)
            << "stopWhen waited for the request in progress";
        release = true;
        ASSERT_TRUE(waitFor([&] { return checks > 0; }, seconds(5)));
        EXPECT_TRUE(checkedAfterRequest);
        EXPECT_EQ(client->waitExit(seconds(5)), 0) << client->output();
        if (!verdict) {
            EXPECT_FALSE(loop.finished);
            entered = false;
            release = false;
            answered = false;
            client = emptyPost(dir.file("q.sock"));
            ASSERT_TRUE(waitFor([&] { return entered.load(); }, seconds(5)))
                << "the loop stopped serving";
        }
    }
    EXPECT_TRUE(waitFor([&] { return loop.finished.load(); }, seconds(5)));
}

TEST(CgiLoop, SocketSetupFailuresAreReported)
{
    TempDir dir("cgi-loop");
    CGIHandler missingDir(dir.path() + "/no/such/dir/q.sock", nullptr);
    EXPECT_FALSE(missingDir.start());
    CGIHandler unnamed("", nullptr);
    EXPECT_FALSE(unnamed.start());
    // A regular file at the path is not replaced.
    dir.write("plain", "keep");
    CGIHandler onFile(dir.file("plain"), nullptr);
    EXPECT_FALSE(onFile.start());
    EXPECT_EQ(dir.read("plain"), "keep");
}

TEST(CgiRequest, DataIsGuardedUntilAccepted)
{
    CGIRequest request;
    EXPECT_THROW(request.params(), std::runtime_error);
    EXPECT_THROW(request.in(), std::runtime_error);
    EXPECT_THROW(request.out(), std::runtime_error);
    try {
        request.accept();
        FAIL() << "accept without init";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Request object must be initialized to accept next request data.");
    }
}
