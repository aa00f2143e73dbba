#include <gtest/gtest.h>

#include "quillon/config/geometry/camera_geometry.h"
#include "quillon/config/geometry/picture_format.h"
#include "quillon/config/geometry/position_record.h"
#include "quillon/config/zones/zone_profile_container.h"
#include "quillon/events/producer/zone_profile_event_handler.h"
#include "quillon/tracking/filters/tracking_profile.h"
#include "quillon/tracking/objects/tracker_scene.h"
#include "quillon_filters/filter_test_support.h"

using namespace quillon;
using namespace quillontest;

namespace
{

constexpr std::int64_t kSecond = 1000000;

// The default profile of a tracker looking at pan 0, tilt 0 with a 60 x 34
// degree view (linear conversions: device u = pan / 30, v = tilt / 17).
class CandidatesTest : public ::testing::Test
{
protected:
    CandidatesTest()
    {
        position.horizontalFov = 60.0f;
        position.verticalFov = 34.0f;
    }

    // A zone given in device coordinates, stored in pan/tilt.
    void addZone(int id, std::vector<Point> device, bool enabled = true, int preset = -1)
    {
        ZoneProfileSettings zone;
        zone.id = id;
        zone.name = "zone " + std::to_string(id);
        zone.preset = preset;
        zone.enabled = enabled;
        for (Point p : device)
            zone.points.push_back({p.x * 30.0f, p.y * 17.0f});
        profile.zones()->receive(zone, 0);
    }
    void addSquareZone(int id, float x1, float y1, float x2, float y2, bool enabled = true)
    {
        addZone(id, {{x1, y1}, {x1, y2}, {x2, y2}, {x2, y1}}, enabled, id + 10);
    }

    std::vector<ObjectAlarmStatus> pass(std::int64_t sceneTime, std::int64_t nowUs = 0)
    {
        scene.sceneTimeUs = sceneTime;
        return profile.candidates(scene, position, format, geometry, nowUs);
    }

    TrackingProfile profile{1, false};
    TrackerScene scene;
    PositionRecord position;
    PictureFormat format;
    CameraGeometry geometry;
};

TEST_F(CandidatesTest, ObjectsInStorageOrderZonesInIdOrderThenTheTemporaryZone)
{
    addSquareZone(2, 0.0f, -0.5f, 0.8f, 0.5f);
    addSquareZone(1, -0.8f, -0.5f, 0.2f, 0.5f);
    scene.addObject(boxObject(7, 0.4f, 0.0f, 0.5f, 0.3f), true);   // zone 2 only
    scene.addObject(boxObject(5, 0.05f, 0.0f, 0.15f, 0.3f), true); // both
    scene.addObject(boxObject(9, 0.9f, 0.6f, 0.95f, 0.9f), true);  // neither
    auto unconfident = boxObject(4, 0.05f, 0.0f, 0.15f, 0.3f);
    unconfident->setConfidence(0);
    scene.addObject(unconfident, true);

    EXPECT_EQ(pass(10 * kSecond),
              (std::vector<ObjectAlarmStatus>{{7, 2, 12}, {5, 1, 11}, {5, 2, 12}}));

    // The temporary zone takes every object old enough, filters or not.
    profile.startTemporaryZone(30, false, 500);
    EXPECT_EQ(pass(10 * kSecond), (std::vector<ObjectAlarmStatus>{{7, 2, 12},
                                                                  {7, -1, -1},
                                                                  {5, 1, 11},
                                                                  {5, 2, 12},
                                                                  {5, -1, -1},
                                                                  {9, -1, -1},
                                                                  {4, -1, -1}}));
}

TEST_F(CandidatesTest, TemporaryZoneRunsInSceneTime)
{
    scene.addObject(boxObject(1, 0, 0, 0.1f, 0.1f, 0), true);
    const std::vector<ObjectAlarmStatus> one{{1, -1, -1}};
    EXPECT_TRUE(pass(100 * kSecond).empty());

    profile.startTemporaryZone(30, true, 500);
    EXPECT_EQ(pass(100 * kSecond), one); // the clock starts here
    EXPECT_EQ(pass(130 * kSecond), one);
    EXPECT_EQ(pass(130 * kSecond + 1), one); // ends the zone, still counts
    EXPECT_EQ(profile.temporaryZone().duration(), 0);
    EXPECT_TRUE(pass(130 * kSecond + 2).empty());

    // A new start replaces a running zone; scene time running backwards
    // does not end it.
    profile.startTemporaryZone(5, false, 500);
    EXPECT_EQ(pass(200 * kSecond), one);
    EXPECT_EQ(pass(150 * kSecond), one);
    EXPECT_EQ(pass(205 * kSecond), one);
    // A timeout of 0 or less (what a sender without one posts) ends it and
    // starts nothing.
    profile.startTemporaryZone(-1, false, 500);
    EXPECT_TRUE(pass(205 * kSecond).empty());
    profile.startTemporaryZone(0, false, 500);
    EXPECT_TRUE(pass(206 * kSecond).empty());
}

TEST_F(CandidatesTest, TemporaryZoneWaitsForThePreTriggerTime)
{
    scene.addObject(boxObject(1, 0, 0, 0.1f, 0.1f, 10 * kSecond - 499000), true);
    scene.addObject(boxObject(2, 0, 0, 0.1f, 0.1f, 10 * kSecond - 500000), true);
    profile.startTemporaryZone(30, false, 500);
    testing::internal::CaptureStderr();
    EXPECT_EQ(pass(10 * kSecond), (std::vector<ObjectAlarmStatus>{{2, -1, -1}}));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("temp zone triggered 2 (500 >= 500)\n"),
              std::string::npos);
}

TEST_F(CandidatesTest, ZoneShapesAndPlaces)
{
    // A bow-tie: the two triangles left and right of the crossing count.
    addZone(1, {{-0.8f, -0.8f}, {-0.1f, 0.8f}, {-0.1f, -0.8f}, {-0.8f, 0.8f}});
    // Beyond the tilt limits, kept as drawn: the linear model still places it.
    addZone(2, {{0.5f, 5.5f}, {0.9f, 5.5f}, {0.9f, 5.0f}});
    // 120 degrees to the right: never in view.
    addZone(3, {{4.0f, -0.5f}, {4.2f, -0.5f}, {4.2f, 0.5f}});
    // Zero area: an outline without inside.
    addZone(4, {{0.3f, 0.3f}, {0.4f, 0.3f}, {0.5f, 0.3f}});
    // (Boxes above the size filter's 0.1 units.)
    scene.addObject(boxObject(1, -0.78f, -0.1f, -0.68f, 0.1f), true); // left triangle
    scene.addObject(boxObject(2, -0.5f, -0.1f, -0.4f, 0.1f), true);   // the crossing
    scene.addObject(boxObject(3, 0.6f, -0.1f, 0.7f, 0.1f), true);     // nowhere in view
    const auto found = pass(kSecond);
    EXPECT_EQ(found, (std::vector<ObjectAlarmStatus>{{1, 1, -1}, {2, 1, -1}}));
    EXPECT_FALSE(profile.zones()->zones().at(3).visible);
}

TEST_F(CandidatesTest, DisabledZoneReportsMovementButYieldsNothing)
{
    addSquareZone(1, -0.5f, -0.5f, 0.5f, 0.5f, false);
    scene.addObject(boxObject(1, 0, 0, 0.2f, 0.2f), true);
    EXPECT_TRUE(pass(kSecond, 100).empty());
    auto& events = *profile.zones()->zones().at(1).events;
    EXPECT_TRUE(events.moving());

    // Movement holds until more than 5 s after the last one.
    scene.objects.clear();
    pass(2 * kSecond, 100 + 5 * kSecond);
    EXPECT_TRUE(events.moving());
    pass(3 * kSecond, 100 + 5 * kSecond + 1);
    EXPECT_FALSE(events.moving());
}

TEST_F(CandidatesTest, ContainerFollowsTheStore)
{
    addSquareZone(1, -0.5f, -0.5f, 0.5f, 0.5f);
    auto& zones = profile.zones()->zones();
    ASSERT_EQ(zones.size(), 1u);
    EXPECT_TRUE(zones.at(1).events->enabled());

    ZoneProfileSettings changed;
    changed.id = 1;
    changed.name = "renamed \xff";
    changed.enabled = false;
    changed.points = {{0, 0}, {1, 0}, {1, 1}};
    profile.zones()->receive(changed, 0);
    EXPECT_EQ(zones.at(1).name, changed.name);
    EXPECT_EQ(zones.at(1).events->name(), changed.name);
    EXPECT_FALSE(zones.at(1).events->enabled());

    changed.points.clear();
    profile.zones()->receive(changed, 0);
    EXPECT_TRUE(zones.empty());
}

} // namespace
