// The zone events of a tracking profile through camsim's event producer on a
// private bus: declarations follow the zones of the store, the enabled state
// and movement are reported, a rename declares again, deletion and clearing
// withdraw the declarations.
#include <glib.h>
#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

#include "events_fixture.h"
#include "quillon/config/geometry/camera_geometry.h"
#include "quillon/config/geometry/picture_format.h"
#include "quillon/config/zones/zone_profile_container.h"
#include "quillon/tracking/filters/tracking_profile.h"
#include "quillon/tracking/objects/tracker_scene.h"
#include "quillon_filters/filter_test_support.h"

using namespace quillon;
using namespace eventstest;
using testsupport::waitFor;

namespace
{

const std::string kRoot = "tnszeto:Plinth/tnszeto:Quillon/tnszeto:";

std::vector<std::string> topics(const json& declared)
{
    std::vector<std::string> out;
    for (const auto& d : declared)
        out.push_back(d.value("topic", ""));
    return out;
}

// The data of every event sent for `topic`, in order.
std::vector<json> sentFor(const json& sent, const std::string& topic)
{
    std::vector<json> out;
    for (const auto& s : sent)
        if (s.value("topic", "") == topic)
            out.push_back(s["data"]);
    return out;
}

ZoneProfileSettings zone(int id, const std::string& name, bool enabled)
{
    ZoneProfileSettings z;
    z.id = id;
    z.name = name;
    z.enabled = enabled;
    z.points = {{-15, -8}, {15, -8}, {15, 8}, {-15, 8}};
    return z;
}

class ZoneEventsTest : public ::testing::Test
{
protected:
    // Waits until camsim has recorded `n` events for `topic`.
    std::vector<json> waitForSent(const std::string& topic, size_t n)
    {
        std::vector<json> data;
        waitFor([&] {
            data = sentFor(events.sent(), topic);
            return data.size() >= n;
        });
        return data;
    }

    CamsimEvents events;
};

TEST_F(ZoneEventsTest, ZonesDeclareReportAndWithdrawTheirEvents)
{
    ZoneProfileContainer container(false);
    container.receive(zone(1, "gate", true), g_get_monotonic_time());
    container.receive(zone(2, "yard", false), g_get_monotonic_time());
    json declared = events.declared();
    EXPECT_EQ(topics(declared),
              (std::vector<std::string>{kRoot + "ProfileUpdated_1", kRoot + "ProfileMovement_1",
                                        kRoot + "ProfileUpdated_2", kRoot + "ProfileMovement_2"}));
    // Leading boolean: not debug mode for ProfileUpdated, false for movement.
    EXPECT_EQ(declared[0]["declaration"].get<std::string>().rfind("(true, ", 0), 0u);
    EXPECT_NE(
        declared[0]["declaration"].get<std::string>().find("'Quillon: Profile \"gate\" updated'"),
        std::string::npos);
    EXPECT_EQ(declared[1]["declaration"].get<std::string>().rfind("(false, ", 0), 0u);

    // Only the enabled zone reports at creation.
    auto updated = waitForSent(kRoot + "ProfileUpdated_1", 1);
    ASSERT_EQ(updated.size(), 1u);
    EXPECT_EQ(updated[0],
              (json{{"enabled", true}, {"profileId", 1}, {"name", "gate"}, {"channel", 1}}));

    // A change of the flag is reported; the same value again is not.
    container.receive(zone(2, "yard", true), g_get_monotonic_time());
    container.receive(zone(2, "yard", true), g_get_monotonic_time());
    container.receive(zone(1, "gate", false), g_get_monotonic_time());
    ASSERT_EQ(waitForSent(kRoot + "ProfileUpdated_1", 2).back()["enabled"], false);
    EXPECT_EQ(waitForSent(kRoot + "ProfileUpdated_2", 1).size(), 1u);

    // A rename declares under the new name and reports the state again.
    container.receive(zone(2, "back yard", true), g_get_monotonic_time());
    ASSERT_TRUE(waitFor([&] {
        auto d = events.declared();
        return d.size() == 4 &&
               d.dump().find("Profile \\\"back yard\\\" updated") != std::string::npos &&
               d.dump().find("Profile \\\"yard\\\" updated") == std::string::npos;
    })) << events.declared().dump();
    auto renamed = waitForSent(kRoot + "ProfileUpdated_2", 2);
    EXPECT_EQ(renamed.back()["name"], "back yard");
    EXPECT_EQ(renamed.back()["enabled"], true);

    // Deleting (a message without points) withdraws both declarations.
    ZoneProfileSettings gone = zone(1, "gate", false);
    gone.points.clear();
    container.receive(gone, g_get_monotonic_time());
    ASSERT_TRUE(waitFor([&] { return events.declared().size() == 2; }));
    EXPECT_EQ(topics(events.declared()),
              (std::vector<std::string>{kRoot + "ProfileUpdated_2", kRoot + "ProfileMovement_2"}));
    EXPECT_EQ(sentFor(events.sent(), kRoot + "ProfileUpdated_1").size(), 2u);

    container.clear();
    EXPECT_TRUE(waitFor([&] { return events.declared().empty(); }));
}

TEST_F(ZoneEventsTest, ClearingReportsEveryZoneDisabledThenWithdrawsIt)
{
    ZoneProfileContainer container(false);
    container.receive(zone(1, "gate", true), g_get_monotonic_time());
    container.receive(zone(2, "yard", false), g_get_monotonic_time());
    ASSERT_EQ(waitForSent(kRoot + "ProfileUpdated_1", 1).size(), 1u);
    container.clear();
    EXPECT_TRUE(container.zones().empty());
    EXPECT_TRUE(waitFor([&] { return events.declared().empty(); }));
    auto updated = waitForSent(kRoot + "ProfileUpdated_1", 2);
    ASSERT_EQ(updated.size(), 2u) << events.sent().dump();
    EXPECT_EQ(updated[1]["enabled"], false);
    EXPECT_TRUE(sentFor(events.sent(), kRoot + "ProfileUpdated_2").empty());
}

TEST_F(ZoneEventsTest, NamesThatAreNotUtf8AreRepairedForTheBus)
{
    ZoneProfileContainer container(true);
    container.receive(zone(3, "caf\xe9 \xff", true), g_get_monotonic_time());
    auto updated = waitForSent(kRoot + "ProfileUpdated_3", 1);
    ASSERT_EQ(updated.size(), 1u);
    EXPECT_EQ(updated[0]["name"], "caf\xef\xbf\xbd \xef\xbf\xbd");
    // Debug mode: the leading boolean is false.
    EXPECT_EQ(events.declared()[0]["declaration"].get<std::string>().rfind("(false, ", 0), 0u);
}

TEST_F(ZoneEventsTest, MovementFollowsTheCandidatePasses)
{
    TrackingProfile profile(1, false);
    profile.zones()->receive(zone(1, "gate", false), 0);
    TrackerScene scene;
    scene.addObject(quillontest::boxObject(1, -0.1f, -0.1f, 0.1f, 0.1f), true);
    PositionRecord position;
    position.horizontalFov = 60.0f;
    position.verticalFov = 34.0f;
    PictureFormat format;
    CameraGeometry geometry;
    const std::int64_t t0 = g_get_monotonic_time();
    const std::int64_t s = 1000000;
    const std::string topic = kRoot + "ProfileMovement_1";

    // A disabled zone gives no candidate but reports movement.
    EXPECT_TRUE(profile.candidates(scene, position, format, geometry, t0).empty());
    auto moved = waitForSent(topic, 1);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0], (json{{"movement", true}, {"profileId", 1}, {"name", "gate"}}));

    scene.objects.clear();
    profile.candidates(scene, position, format, geometry, t0 + 5 * s);
    profile.candidates(scene, position, format, geometry, t0 + 5 * s + 1);
    moved = waitForSent(topic, 2);
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[1]["movement"], false);
}

TEST(ZoneEventsWithoutProducer, ZonesStillWorkWhenDeclaringFails)
{
    // Refusing producer: declarations fail, candidates still come.
    CamsimEvents events;
    events.camsim.control({{"cmd", "event-fault"}, {"mode", "refuse-declare"}});
    setenv("QUILLON_LOG_STDERR", "1", 1);
    LogCapture log;
    TrackingProfile profile(1, false);
    profile.zones()->receive(zone(1, "gate", true), g_get_monotonic_time());
    TrackerScene scene;
    scene.addObject(quillontest::boxObject(1, -0.1f, -0.1f, 0.1f, 0.1f), true);
    PositionRecord position;
    position.horizontalFov = 60.0f;
    position.verticalFov = 34.0f;
    EXPECT_EQ(
        profile
            .candidates(scene, position, PictureFormat{}, CameraGeometry{}, g_get_monotonic_time())
            .size(),
        1u);
    profile.zones()->clear();
    const std::string text = log.text();
    EXPECT_NE(text.find("ZoneProfileEventHandler declare failed\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ZoneProfileEventHandler declare movement failed\n"), std::string::npos);
    EXPECT_TRUE(events.declared().empty());

    // No producer at all.
    events.camsim.stop();
    ZoneProfileContainer container(false);
    container.receive(zone(2, "yard", true), g_get_monotonic_time());
    EXPECT_EQ(container.zones().size(), 1u);
    container.clear();
}

} // namespace
