// The daemon steered by other applications' events: the real quillon
// program behind lighttpd, camsim's event services on a private bus,
// events sent with camsim's send-event.
#include <glib.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "events_fixture.h"
#include "quillon_endpoint/quillon_server.h"
#include "support/http_client.h"
#include "support/wait.h"

using namespace testsupport;
using eventstest::CamsimEvents;
using nlohmann::json;

namespace
{

const std::string kRoot = "tnszeto:Plinth/tnszeto:Quillon/tnszeto:";

const char* kProfiles = R"({ "profiles": [
  { "pt_polygon": [ -15.0, -16.5, 15.0, -16.0, 15.0, -2.0, -15.0, -2.0 ], "id": 1, "name": "street",
    "enabled": true, "preset": -1, "zoneType": 0 } ] })";

class EventControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        events = std::make_unique<CamsimEvents>();
        server = std::make_unique<QuillonServer>(
            kActiveConf, std::vector<std::string>{}, std::map<std::string, std::string>{},
            std::map<std::string, std::string>{{"profiles.conf", kProfiles}});
        ASSERT_TRUE(waitFor([&] { return subscribedTopics() == kThree; }, std::chrono::seconds(20)))
            << server->process().output();
        // An API call loads application.conf, which starts the tracker; it
        // announces auto-triggers on.
        call("getAutotrackingState");
        ASSERT_TRUE(waitFor([&] { return triggersSent().size() == 1; }, std::chrono::seconds(20)))
            << events->sent().dump();
    }
    void TearDown() override
    {
        if (server)
            server->process().stop();
    }

    std::multiset<std::string> subscribedTopics()
    {
        std::multiset<std::string> out;
        for (const auto& s : events->camsim.control({{"cmd", "event-subscriptions"}}))
            out.insert(s.value("topic", ""));
        return out;
    }
    int send(const std::string& leaf, const json& data)
    {
        return events->camsim.control(
            {{"cmd", "send-event"}, {"topic", kRoot + leaf}, {"data", data}})["deliveries"];
    }
    json call(const std::string& method, const std::string& params = "{}")
    {
        HttpReply reply = httpPost(server->url("/local/quillon/operator.cgi"),
                                   R"({"method": ")" + method + R"(", "params": )" + params + "}");
        EXPECT_EQ(reply.status, 200);
        return json::parse(reply.body, nullptr, false);
    }
    bool autotracking() { return call("getAutotrackingState")["data"].value("enabled", false); }
    std::vector<json> sentFor(const std::string& leaf)
    {
        std::vector<json> out;
        for (const auto& s : events->sent())
            if (s.value("topic", "") == kRoot + leaf)
                out.push_back(s["data"]);
        return out;
    }
    std::vector<json> triggersSent() { return sentFor("AutoTriggers"); }
    std::string profilesConf() { return readFile(server->root() + "/etc/quillon/profiles.conf"); }

    const std::multiset<std::string> kThree = {kRoot + "SetAutoTriggers", kRoot + "SetProfile",
                                               kRoot + "SetTemporaryZone"};
    std::unique_ptr<CamsimEvents> events;
    std::unique_ptr<QuillonServer> server;
};

} // namespace

// The AutoTriggers event and getAutotrackingState follow SetAutoTriggers;
// refused values change nothing and leave the daemon running.
TEST_F(EventControlTest, AutoTriggersFollowTheEvent)
{
    ASSERT_TRUE(autotracking());
    EXPECT_EQ(send("SetAutoTriggers", {{"setAutoTriggers", "0"}}), 1);
    ASSERT_TRUE(waitFor([&] { return triggersSent().size() == 2; })) << events->sent().dump();
    EXPECT_EQ(triggersSent()[1]["autoTriggersEnabled"], false);
    EXPECT_FALSE(autotracking());

    for (const json& refused :
         {json{{"setAutoTriggers", "yes"}}, json{{"setAutoTriggers", "99999999999"}},
          json{{"setAutoTriggers", 1}}, json::object()})
        EXPECT_EQ(send("SetAutoTriggers", refused), 1);
    EXPECT_EQ(send("SetProfile", {{"profileId", "1"}, {"setActive", "on"}}), 1);
    EXPECT_EQ(send("SetTemporaryZone", {{"timeout", "30"}}), 1);
    EXPECT_EQ(send("SetAutoTriggers", {{"setAutoTriggers", "1"}}), 1);
    // Handled in order: once the last one shows, the refused ones were seen.
    ASSERT_TRUE(waitFor([&] { return triggersSent().size() == 3; })) << events->sent().dump();
    EXPECT_EQ(triggersSent()[2]["autoTriggersEnabled"], true);
    EXPECT_TRUE(autotracking());
    std::string log = server->process().output();
    EXPECT_NE(log.find("Event value setAutoTriggers 'yes' is not an integer"), std::string::npos);
    EXPECT_NE(log.find("Event value setAutoTriggers '99999999999' is not an integer"),
              std::string::npos);
    EXPECT_EQ(eventstest::count(log, "setAutoTriggers tag missing"), 2u) << log;
    EXPECT_NE(log.find("Event value setActive 'on' is not an integer"), std::string::npos);
    EXPECT_NE(log.find("Temporary zone setTemporaryZone not found"), std::string::npos);
    EXPECT_NE(profilesConf().find(R"("enabled": true)"), std::string::npos);
    EXPECT_TRUE(server->process().running());
}

// SetProfile switches the zone: the store (as the API lists it), the
// ProfileUpdated event and profiles.conf, which is written at once.
TEST_F(EventControlTest, SetProfileReachesTheApiTheEventAndTheFile)
{
    ASSERT_TRUE(waitFor([&] { return sentFor("ProfileUpdated_1").size() == 1; }))
        << events->sent().dump();
    EXPECT_EQ(send("SetProfile", {{"profileId", "1"}, {"setActive", "0"}}), 1);
    ASSERT_TRUE(waitFor([&] { return sentFor("ProfileUpdated_1").size() == 2; }))
        << events->sent().dump();
    EXPECT_EQ(sentFor("ProfileUpdated_1")[1]["enabled"], false);
    json settings = call("getAutotrackingSettings");
    ASSERT_TRUE(settings["data"]["profiles"].is_array()) << settings.dump();
    EXPECT_EQ(settings["data"]["profiles"][0]["enabled"], false) << settings.dump();
    EXPECT_NE(profilesConf().find(R"("id": 1, "name": "street", "enabled": false)"),
              std::string::npos)
        << profilesConf();

    // An unknown id changes nothing, and writes nothing.
    auto before = std::filesystem::last_write_time(server->root() + "/etc/quillon/profiles.conf");
    EXPECT_EQ(send("SetProfile", {{"profileId", 7}, {"setActive", "1"}}), 1);
    EXPECT_EQ(send("SetProfile", {{"profileId", 1}, {"setActive", "1"}}), 1);
    ASSERT_TRUE(waitFor([&] { return sentFor("ProfileUpdated_1").size() == 3; }));
    EXPECT_NE(server->process().output().find("Can't update profile with ID 7"), std::string::npos);
    EXPECT_NE(profilesConf().find(R"("id": 1, "name": "street", "enabled": true)"),
              std::string::npos);
    EXPECT_NE(std::filesystem::last_write_time(server->root() + "/etc/quillon/profiles.conf"),
              before);
}

// The event consumer restarts: the daemon subscribes again, once per topic,
// and the events work.
TEST_F(EventControlTest, SubscribesAgainAfterTheConsumerRestarts)
{
    events->camsim.control({{"cmd", "events-restart"}, {"away", 3}});
    ASSERT_TRUE(
        waitFor([&] { return server->process().output().find("vanished") != std::string::npos; }));
    ASSERT_TRUE(waitFor([&] { return subscribedTopics() == kThree; }, std::chrono::seconds(20)))
        << server->process().output();
    EXPECT_EQ(send("SetAutoTriggers", {{"setAutoTriggers", "0"}}), 1);
    ASSERT_TRUE(waitFor([&] { return !autotracking(); }));
    ASSERT_TRUE(waitFor([&] { return triggersSent().size() == 2; }));
    std::string log = server->process().output();
    EXPECT_EQ(eventstest::count(log, "vanished: 3 subscriptions forgotten"), 1u) << log;
    EXPECT_EQ(eventstest::count(log, "3 of 3 subscriptions made"), 1u) << log;
    EXPECT_EQ(subscribedTopics(), kThree);
}

namespace
{

// The daemon on camsim's camera root, so that it reads the scenario's
// detection feed and follows with the real tracker: the walker of
// person-walking crosses the view; no stored zones.
class TemporaryZoneTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        events = std::make_unique<CamsimEvents>(std::vector<std::string>{
            "--feeds-scenario", std::string(SCENARIOS_DIR) + "/person-walking.json"});
        const std::string etc = events->camsim.root() + "/etc/quillon";
        std::filesystem::create_directories(etc);
        writeFile(etc + "/application.conf", kActiveConf);
        writeFile(etc + "/settings.conf", R"({ "trackingParams": { "trackerType": 5 } })");
        events->camsim.control(
            {{"cmd", "preset-add"}, {"number", 3}, {"name", "door"}, {"pan", 8}, {"tilt", -10}});
        server = std::make_unique<QuillonServer>(
            "", std::vector<std::string>{},
            std::map<std::string, std::string>{{"CAMROOT", events->camsim.root()}});
        // The tracker takes the viewport from the message the API posts:
        // start it first (an API call loads application.conf; the tracker
        // then declares its events).
        httpPost(server->url("/local/quillon/operator.cgi"),
                 R"({"method": "getAutotrackingState", "params": {}})");
        ASSERT_TRUE(waitFor(
            [&] {
                for (const auto& d : events->declared())
                    if (d.value("topic", "") == kRoot + "AutoTriggers")
                        return true;
                return false;
            },
            std::chrono::seconds(30)))
            << server->process().output();
        HttpReply reply = httpPost(server->url("/local/quillon/operator.cgi"),
                                   R"({"method": "setViewportConfig", "params": {"rotation": 0}})");
        ASSERT_EQ(reply.status, 200);
        ASSERT_NE(reply.body.find("\"data\""), std::string::npos) << reply.body;
    }
    void TearDown() override
    {
        if (server)
            server->process().stop();
    }

    // The status texts camsim took so far (it keeps the latest 200 events)
    // whose time stamp (wall clock, µs) is after `afterUs`.
    std::vector<std::string> frames(long long afterUs = 0)
    {
        std::vector<std::string> out;
        for (const auto& s : events->sent())
            if (s.value("topic", "") == kRoot + "streamObjects" &&
                s.value("timestamp", 0LL) > afterUs)
                out.push_back(s["data"].value("jsonframe", ""));
        return out;
    }
    // Waits for `n` status texts of scenes after `afterUs`; true when none
    // of them names a tracked object.
    bool noTargetAfter(long long afterUs, std::size_t n)
    {
        std::vector<std::string> seen;
        bool enough = waitFor(
            [&] {
                seen = frames(afterUs);
                return seen.size() >= n;
            },
            std::chrono::seconds(30));
        EXPECT_TRUE(enough) << server->process().output();
        for (const auto& f : seen)
            if (f.find("\"trackedId\"") != std::string::npos)
                return false;
        return enough;
    }
    int send(const json& data)
    {
        return events->camsim.control({{"cmd", "send-event"},
                                       {"topic", kRoot + "SetTemporaryZone"},
                                       {"data", data}})["deliveries"];
    }

    std::unique_ptr<CamsimEvents> events;
    std::unique_ptr<QuillonServer> server;
};

} // namespace

// Without zones nothing is followed; a temporary zone without a time-out
// opens none; one with 30 s visits preset 3 first and then takes the
// walker. The status texts carry no debug colours (no -d).
TEST_F(TemporaryZoneTest, OpensAZoneAfterThePreset)
{
    EXPECT_TRUE(noTargetAfter(0, 30));
    const long long sent = g_get_real_time();
    ASSERT_EQ(send({{"setTemporaryZone", "fullscreen"}}), 1);
    EXPECT_TRUE(noTargetAfter(sent, 45));

    ASSERT_EQ(send({{"setTemporaryZone", "fullscreen"},
                    {"timeout", "30"},
                    {"preTrackingAction", "gotoPreset=3"},
                    {"postTrackingAction", "gotoHome"}}),
              1);
    EXPECT_TRUE(waitFor(
        [&] {
            return std::abs(events->camsim.control({{"cmd", "pose"}}).value("pan", 0.0) - 8.0) <
                   0.5;
        },
        std::chrono::seconds(20)))
        << events->camsim.control({{"cmd", "pose"}}).dump();
    ASSERT_TRUE(waitFor(
        [&] {
            for (const auto& f : frames())
                if (f.find("\"trackedId\"") != std::string::npos)
                    return true;
            return false;
        },
        std::chrono::seconds(40)))
        << server->process().output();
    for (const auto& f : frames())
        EXPECT_EQ(f.find("\"color\""), std::string::npos) << f;
}
