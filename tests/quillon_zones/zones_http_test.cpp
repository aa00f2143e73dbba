// Zone profiles end to end: the quillon program behind lighttpd, driven with
// curl, its zone events declared and sent through camsim's event producer on
// a private bus. No camera position reaches the daemon here, so picture
// polygons are refused (1108) and zones are listed without them.
#include <sys/stat.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "events_fixture.h"
#include "quillon/config/settings/json_values.h"
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
    "enabled": true, "preset": 1, "zoneType": 0 },
  { "pt_polygon": [ 20.0, -16.0, 30.0, -16.0, 30.0, -2.0 ], "id": 2, "name": "corner",
    "enabled": true, "preset": -1, "zoneType": 2 } ] })";

long long mtimeOf(const std::string& path)
{
    struct stat st {
    };
    if (stat(path.c_str(), &st) != 0)
        return -1;
    return st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
}

class ZonesHttpTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        events = std::make_unique<CamsimEvents>();
        events->camsim.control({{"cmd", "preset-add"}, {"number", 1}, {"name", "street"}});
        server = std::make_unique<QuillonServer>(
            kActiveConf, std::vector<std::string>{}, std::map<std::string, std::string>{},
            std::map<std::string, std::string>{{"profiles.conf", kProfiles}});
    }
    void TearDown() override
    {
        if (server)
            server->process().stop();
    }

    std::string post(const std::string& script, const std::string& body)
    {
        HttpReply reply = httpPost(server->url("/local/quillon/" + script), body);
        EXPECT_EQ(reply.status, 200);
        return reply.body;
    }
    int code(const std::string& method, const std::string& params)
    {
        auto value = quillon::json::parse(
            post("operator.cgi", R"({"method": ")" + method + R"(", "params": )" + params + "}"));
        json_object* error = quillon::json::objectMember(value.get(), "error");
        if (error == nullptr)
            return quillon::json::objectMember(value.get(), "data") ? 0 : -1;
        return int(quillon::json::intMember(error, "code").value_or(-1));
    }
    std::string profilesConf() { return readFile(profilesPath()); }
    std::string profilesPath() { return server->root() + "/etc/quillon/profiles.conf"; }

    // The zone events declared (the tracker declares its own two as well).
    std::vector<std::string> zoneTopics()
    {
        std::vector<std::string> out;
        for (const auto& d : events->declared())
            if (d.value("topic", "").find(":Profile") != std::string::npos)
                out.push_back(d.value("topic", ""));
        return out;
    }
    bool waitForTopics(size_t n)
    {
        return waitFor([&] { return zoneTopics().size() == n; }, std::chrono::seconds(20));
    }
    std::vector<json> sentFor(const std::string& topic)
    {
        std::vector<json> out;
        for (const auto& s : events->sent())
            if (s.value("topic", "") == topic)
                out.push_back(s["data"]);
        return out;
    }

    std::unique_ptr<CamsimEvents> events;
    std::unique_ptr<QuillonServer> server;
};

TEST_F(ZonesHttpTest, ZonesReachTheApiTheFileAndTheEvents)
{
    // Tracking is active: the tracker's profile declares both zones' events.
    ASSERT_TRUE(waitForTopics(4)) << events->declared().dump() << server->process().output();
    ASSERT_TRUE(waitFor([&] { return sentFor(kRoot + "ProfileUpdated_2").size() == 1; }));

    // Zone 1's preset exists on channel 1 (once the presets component has
    // found it), zone 2 has none.
    std::string settings;
    EXPECT_TRUE(waitFor([&] {
        settings = post("viewer.cgi", R"({"method": "getAutotrackingSettings", "params": {}})");
        return settings.find(R"("profiles": [ { "presetStatus": 1, "id": 1, "name": "street")") !=
               std::string::npos;
    })) << settings;
    EXPECT_NE(settings.find(R"({ "presetStatus": 0, "id": 2, "name": "corner")"), std::string::npos)
        << settings;
    EXPECT_EQ(settings.find("px_polygon"), std::string::npos);
    EXPECT_EQ(code("getProfile", R"({"id": 1})"), 1110);
    long long before = mtimeOf(profilesPath());
    EXPECT_EQ(code("addProfile", R"({"px_polygon": [0.1, 0.1, 0.5, 0.1, 0.5, 0.5]})"), 1108);
    EXPECT_EQ(code("updateProfile", R"({"id": 9, "enabled": false})"), 1101);
    EXPECT_EQ(code("updateProfile", R"({"id": 1, "px_polygon": [0.1, 0.1, 0.5, 0.1, 0.5, 0.5]})"),
              1108);
    EXPECT_EQ(mtimeOf(profilesPath()), before);

    EXPECT_EQ(code("updateProfile", R"({"id": 1, "enabled": false})"), 0);
    EXPECT_NE(profilesConf().find(R"("id": 1, "name": "street", "enabled": false)"),
              std::string::npos)
        << profilesConf();
    ASSERT_TRUE(waitFor([&] { return sentFor(kRoot + "ProfileUpdated_1").size() == 2; }));
    EXPECT_EQ(sentFor(kRoot + "ProfileUpdated_1").back()["enabled"], false);

    EXPECT_EQ(code("deleteProfile", R"({"id": [2, 7]})"), 1101);
    EXPECT_EQ(profilesConf().find(R"("id": 2)"), std::string::npos) << profilesConf();
    ASSERT_TRUE(waitForTopics(2)) << events->declared().dump();
    EXPECT_EQ(zoneTopics(),
              (std::vector<std::string>{kRoot + "ProfileUpdated_1", kRoot + "ProfileMovement_1"}));

    // Switched off: edits are refused and the zones' events are withdrawn.
    EXPECT_EQ(code("setApplicationSettings", R"({"service": {"active": false}})"), 0);
    EXPECT_EQ(code("updateProfile", R"({"id": 1, "enabled": true})"), 1110);
    EXPECT_TRUE(waitForTopics(0)) << events->declared().dump();
}

} // namespace
