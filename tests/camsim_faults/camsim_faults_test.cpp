// The camera goes away under the daemons: camsim is killed and started again,
// or frozen with SIGSTOP for faultFreezeTime() (PTZ_FAULT_FREEZE_SECONDS),
// while quillon's API and libpavane's CGI are in use. The daemons keep
// answering (errors where the camera is needed), recover when it is back and
// never crash or hang.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "events_fixture.h"
#include "quillon_endpoint/quillon_server.h"
#include "support/http_client.h"
#include "support/lighttpd.h"
#include "support/wait.h"

using namespace testsupport;
using namespace std::chrono_literals;
using eventstest::CamsimEvents;
using nlohmann::json;

namespace
{

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Thaws camsim faultFreezeTime() after freezing it, from its own thread, so
// that the test can keep calling meanwhile; the destructor joins.
class Freeze
{
public:
    explicit Freeze(CamsimEvents& events) : events_(events), at_(Clock::now())
    {
        events_.freeze();
        thread_ = std::thread([this] {
            std::this_thread::sleep_until(at_ + faultFreezeTime());
            thawed_ = true; // before the signal: nothing can answer earlier
            events_.thaw();
        });
    }
    ~Freeze() { thread_.join(); }
    bool thawed() const { return thawed_; }
    Clock::time_point at() const { return at_; }

private:
    CamsimEvents& events_;
    Clock::time_point at_;
    std::atomic<bool> thawed_{false};
    std::thread thread_;
};

// One call of each kind the web pages make: reads, settings writes, commands
// and zone changes (which emit events through camsim).
const std::vector<std::pair<std::string, std::string>> kQuillonCalls = {
    {"getSupportedVersions", "{}"},
    {"getAutotrackingSettings", "{}"},
    {"setAutotrackingSettings", R"({"minObjectLifespan": {"time": 3, "enabled": true}})"},
    {"setAutotrackingState", R"({"enabled": true})"},
    {"getAutotrackingState", "{}"},
    {"setEventState", R"({"enabled": true})"},
    {"updateProfile", R"({"id": 1, "enabled": false})"},
    {"updateProfile", R"({"id": 1, "enabled": true})"},
    {"getProfile", R"({"id": 1})"},
    {"getAutotrackingTarget", "{}"},
};

const char* kProfiles = R"({ "profiles": [ { "pt_polygon": [ -30.0, -14.0, 30.0, -14.0, 30.0, -3.0,
  -30.0, -3.0 ], "id": 1, "name": "street", "enabled": true, "preset": -1, "zoneType": 0 } ] })";

// quillon with camsim on one camera root, as on the camera.
class QuillonCameraAway : public ::testing::Test
{
protected:
    void SetUp() override
    {
        events = std::make_unique<CamsimEvents>();
        std::string etc = events->camsim.root() + "/etc/quillon";
        std::filesystem::create_directories(etc);
        writeFile(etc + "/application.conf", kActiveConf);
        writeFile(etc + "/profiles.conf", kProfiles);
        server = std::make_unique<QuillonServer>(
            "", std::vector<std::string>{},
            std::map<std::string, std::string>{{"CAMROOT", events->camsim.root()}});
        ASSERT_TRUE(waitFor([&] { return !events->declared().empty(); }, 20s))
            << server->process().output();
    }
    void TearDown() override
    {
        if (server) {
            EXPECT_TRUE(server->process().running()) << server->process().output();
            server->process().stop();
        }
    }

    // Every call of kQuillonCalls answers with a JSON reply (data or error);
    // returns the longest time one took.
    long long callAll(const std::string& label)
    {
        long long longest = 0;
        for (const auto& [method, params] : kQuillonCalls) {
            auto start = Clock::now();
            HttpReply reply =
                httpPost(server->url("/local/quillon/operator.cgi"),
                         R"({"method": ")" + method + R"(", "params": )" + params + "}");
            longest = std::max(longest, msSince(start));
            EXPECT_EQ(reply.status, 200) << label << " " << method << server->process().output();
            json body = json::parse(reply.body, nullptr, false);
            EXPECT_TRUE(body.contains("data") || body.contains("error"))
                << label << " " << method << ": " << reply.body;
        }
        return longest;
    }

    std::unique_ptr<CamsimEvents> events;
    std::unique_ptr<QuillonServer> server;
};

TEST_F(QuillonCameraAway, ApiAnswersWhileTheCameraIsKilledAndRestarted)
{
    callAll("camera up");
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        events->camsim.kill();
        callAll("camera gone");
        ASSERT_TRUE(server->process().running()) << server->process().output();
        events->camsim.start();
        callAll("camera back");
        // The zone change of the calls reaches the new camsim's event producer.
        bool reported = waitFor(
            [&] {
                callAll("camera back");
                return !events->sent().empty();
            },
            30s);
        EXPECT_TRUE(reported) << server->process().output();
    }
}

TEST_F(QuillonCameraAway, CallsReturnWhileTheCameraIsFrozen)
{
    int rounds = 0;
    long long longest = 0;
    {
        Freeze freeze(*events);
        while (!freeze.thawed()) {
            longest = std::max(longest, callAll("camera frozen"));
            rounds++;
        }
        std::printf("camera frozen %lld s: %d rounds of calls, the longest took %lld ms\n",
                    static_cast<long long>(faultFreezeTime().count()), rounds, longest);
    }
    EXPECT_GE(rounds, 1);
    // Answered while the camera was frozen, not just after: far below the
    // freeze and the web client's time-out.
    EXPECT_LT(longest, std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::min<std::chrono::seconds>(faultFreezeTime(), 20s))
                           .count());
    callAll("camera thawed");
}

// libpavane lives in camsim's process here: with camsim gone the relay
// answers 503 itself; frozen, the request waits in the transfer socket and
// is answered after the thaw; afterwards everything works.
class PavaneCameraAway : public ::testing::Test
{
protected:
    void SetUp() override
    {
        events = std::make_unique<CamsimEvents>();
        dir.write("web/www/local/pavane/videooutput2.cgi",
                  "socket " + events->camsim.root() + "/run/pavane/transfer\n");
        web = std::make_unique<Lighttpd>(dir.path() + "/web",
                                         "$HTTP[\"url\"] =~ \"^/local/pavane/\" {\n"
                                         "  cgi.assign = ( \".cgi\" => \"" CGIRELAY "\" )\n"
                                         "}\n");
    }

    HttpReply getOutputs(std::chrono::seconds maxTime = 20s)
    {
        const std::string body = R"({"apiVersion": "1.2", "method": "getOutputs"})";
        return httpRequest("POST", web->url("/local/pavane/videooutput2.cgi"), &body,
                           {"--max-time", std::to_string(maxTime.count())});
    }
    bool outputsListed(const HttpReply& r)
    {
        return r.status == 200 &&
               json::parse(r.body, nullptr, false)["data"]["outputs"].size() == 2;
    }

    TempDir dir{"pavane-faults"};
    std::unique_ptr<CamsimEvents> events;
    std::unique_ptr<Lighttpd> web;
};

TEST_F(PavaneCameraAway, RelayAnswersItsErrorWhileTheHostIsGoneThenRecovers)
{
    ASSERT_TRUE(outputsListed(getOutputs())) << web->errorLog();
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        events->camsim.kill();
        HttpReply gone = getOutputs();
        EXPECT_EQ(gone.status, 503) << gone.body;
        EXPECT_NE(gone.body.find("service not available"), std::string::npos) << gone.body;
        events->camsim.start();
        EXPECT_TRUE(outputsListed(getOutputs())) << web->errorLog();
    }
}

TEST_F(PavaneCameraAway, RequestWaitsForTheFrozenHostAndIsAnswered)
{
    HttpReply reply;
    long long took = 0;
    {
        Freeze freeze(*events);
        auto start = Clock::now();
        reply = getOutputs(faultFreezeTime() + 20s);
        took = msSince(start);
        EXPECT_TRUE(freeze.thawed()) << "answered while the host was frozen?";
    }
    EXPECT_TRUE(outputsListed(reply)) << reply.status << " " << reply.body;
    std::printf("frozen %lld s: answered after %lld ms\n",
                static_cast<long long>(faultFreezeTime().count()), took);
    EXPECT_TRUE(outputsListed(getOutputs()));
}

} // namespace
