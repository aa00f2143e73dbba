#include <cmath>

#include <gtest/gtest.h>

#include "quillon/inputs/vod/vod_position_source.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/inputs/vod/vod_storage_update.h"

namespace quillon
{
namespace
{

constexpr std::int64_t kFrameUs = 66667;

// Camera at a fixed pose; directions in the linear model, or none.
class FixedCamera : public VodPositionSource
{
public:
    bool positionAt(std::int64_t, PositionRecord& p) override
    {
        p.pan = pan;
        p.tilt = -10.0f;
        p.horizontalFov = 60.0f;
        p.verticalFov = 34.0f;
        return true;
    }
    bool screenToPanTilt(Point s, const PositionRecord& p, Point& out) override
    {
        if (!convert)
            return false;
        out = {p.pan + s.x * p.horizontalFov / 2, p.tilt + s.y * p.verticalFov / 2};
        return true;
    }
    float pan = 0.0f;
    bool convert = true;
};

VodObject detection(int id, std::int64_t t, float u, int classId = 0, int score = 80)
{
    return VodObject(id, t, Polygon::box(u - 0.05f, u + 0.05f, 0.2f, -0.2f), score, 40, classId,
                     classId == 0, kVodTrackedConfident, true);
}

struct Frame {
    Frame(std::int64_t time, std::vector<VodObject> detected, std::vector<VodEvent> happened = {})
        : t(time), objects(std::move(detected)), events(std::move(happened))
    {
    }
    std::int64_t t;
    std::vector<VodObject> objects;
    std::vector<VodEvent> events;
};

VodEvent event(int action, int objectId, std::set<int> ids)
{
    VodEvent e;
    e.action = action;
    e.objectId = objectId;
    e.objectIds = std::move(ids);
    return e;
}

TrackerScene fold(TrackerScene scene, const Frame& f, VodPositionSource* positions = nullptr)
{
    VodSceneUpdateMessage m;
    m.sceneTimeUs = f.t;
    for (const VodObject& o : f.objects)
        m.objects.emplace(o.getId(), o);
    m.events = f.events;
    return updateVodStorage(scene, m, positions);
}

std::vector<int> ids(const TrackerScene& s)
{
    std::vector<int> out;
    for (const auto& o : s.objects)
        out.push_back(o->getId());
    return out;
}

TEST(VodStorageUpdate, DetectionsRefreshMissesCarryDeletesDrop)
{
    TrackerScene s =
        fold(TrackerScene(), {1000000, {detection(1, 1000000, 0.0f), detection(2, 1000000, 0.5f)}});
    EXPECT_EQ(ids(s), (std::vector<int>{1, 2}));
    s = fold(s, {1100000, {detection(1, 1100000, 0.1f), detection(3, 1100000, 0.3f)}});
    EXPECT_EQ(ids(s), (std::vector<int>{1, 2, 3}));
    auto one = std::dynamic_pointer_cast<VodObject>(s.findObject(1));
    ASSERT_TRUE(one);
    EXPECT_NEAR(one->velocityX, 1.0f, 1e-5); // 0.1 in 0.1 s
    EXPECT_EQ(one->lastSeenUs, 1100000);
    auto two = std::dynamic_pointer_cast<VodObject>(s.findObject(2));
    EXPECT_TRUE(two->lost);
    EXPECT_FALSE(s.isVisible(2));
    EXPECT_EQ(two->confidence, 0);
    EXPECT_EQ(two->lastSeenUs, 1100000); // carried to the scene time

    // A found-again object is no longer lost; a delete drops an object.
    s = fold(s, {1200000, {detection(2, 1200000, 0.5f)}, {event(kVodEventDelete, 3, {})}});
    EXPECT_EQ(ids(s), (std::vector<int>{1, 2}));
    EXPECT_FALSE(std::dynamic_pointer_cast<VodObject>(s.findObject(2))->lost);
}

// Velocities are device units per second over the interval between the
// object's last two detections, so the predictor can multiply them by
// seconds; no interval, or no previous box, gives no velocity.
TEST(VodStorageUpdate, VelocityIsPerSecondBetweenDetections)
{
    struct Case {
        const char* name;
        std::vector<Frame> frames;
        float velocityX;
    };
    auto at = [](std::int64_t t, float u) { return Frame(t, {detection(1, t, u)}); };
    const std::vector<Case> cases = {
        {"TenthOfASecond", {at(1000000, 0.0f), at(1100000, 0.1f)}, 1.0f},
        {"FifthOfASecond", {at(1000000, 0.0f), at(1200000, -0.1f)}, -0.5f},
        // A miss loses the box: no velocity from the next detection.
        {"AfterAMiss", {at(1000000, 0.0f), {1100000, {}}, at(1200000, 0.1f)}, 0.0f},
        {"EqualTimes", {at(1000000, 0.0f), at(1000000, 0.2f)}, 0.0f},
        {"Backwards", {at(1000000, 0.0f), at(900000, 0.2f)}, 0.0f},
    };
    for (const Case& c : cases) {
        TrackerScene s;
        for (const Frame& f : c.frames)
            s = fold(s, f);
        auto o = s.findObject(1);
        ASSERT_TRUE(o) << c.name;
        EXPECT_NEAR(o->velocityX, c.velocityX, 1e-4) << c.name;
        EXPECT_TRUE(std::isfinite(o->velocityY)) << c.name;
    }
}

// The confident state follows the score from the first sighting, so the
// time since it changed measures how long the object has been unconfident.
TEST(VodStorageUpdate, ConfidentTimeCountsFromTheLastChange)
{
    TrackerScene s = fold(TrackerScene(), {1000000, {detection(1, 1000000, 0.0f, 0, 80)}});
    EXPECT_TRUE(s.findObject(1)->confident);
    for (std::int64_t t = 1100000; t <= 9000000; t += 100000)
        s = fold(s, {t, {detection(1, t, 0.0f, 0, 80)}});
    s = fold(s, {9100000, {detection(1, 9100000, 0.0f, 0, 10)}});
    s = fold(s, {9200000, {detection(1, 9200000, 0.0f, 0, 10)}});
    auto o = s.findObject(1);
    EXPECT_FALSE(o->confident);
    EXPECT_NEAR(o->confidentTime(), 0.2f, 1e-4); // since the last confident frame
}

TEST(VodStorageUpdate, LostObjectsAgeOutFromTheirLastDetection)
{
    TrackerScene s = fold(TrackerScene(), {1000000, {detection(1, 1000000, 0.0f)}});
    std::int64_t t = 1000000;
    // Id 1 is never deleted (as after an id switch) and never seen again.
    while (t < 40000000 && s.findObject(1)) {
        t += 500000;
        s = fold(s, {t, {}});
    }
    EXPECT_EQ(s.findObject(1), nullptr);
    // Removed once the previous scene time is 30 s past the detection.
    EXPECT_GE(t - 500000 - 1000000, 29999999);
    EXPECT_LT(t - 1000000, 31000000);
}

TEST(VodStorageUpdate, TrackedIdFollowsConnectEvents)
{
    struct Case {
        const char* name;
        int objectId;
        std::set<int> connected;
        std::vector<int> detected; // in the new frame
        int trackedAfter;
    };
    const std::vector<Case> cases = {
        // The tracked track continues under an id first seen in this frame.
        {"SourceToNewId", 4, {4, 9}, {9}, 9},
        {"SourceToStoredId", 4, {5}, {4, 5}, 5},
        {"NewIdMissing", 4, {9}, {5}, -1},
        {"TargetKeepsId", 5, {4}, {4, 5}, 4},
    };
    for (const Case& c : cases) {
        TrackerScene s = fold(
            TrackerScene(), {1000000, {detection(4, 1000000, 0.0f), detection(5, 1000000, 0.5f)}});
        s.setTracked(4);
        std::vector<VodObject> objects;
        for (int id : c.detected)
            objects.push_back(detection(id, 1100000, 0.1f));
        s = fold(s, {1100000, objects, {event(kVodEventConnect, c.objectId, c.connected)}});
        EXPECT_EQ(s.trackedId, c.trackedAfter) << c.name;
    }
}

TEST(VodStorageUpdate, ConnectTargetRestartsTheMotionHistory)
{
    FixedCamera camera;
    TrackerScene s =
        fold(TrackerScene(), {1000000, {detection(4, 1000000, 0.0f), detection(5, 1000000, 0.5f)}},
             &camera);
    s.setTracked(4);
    s = fold(s, {1066667, {detection(4, 1066667, 0.0f), detection(5, 1066667, 0.5f)}}, &camera);
    EXPECT_EQ(std::dynamic_pointer_cast<VodObject>(s.findObject(4))->history().size(), 2u);
    s = fold(s, {1133334, {detection(4, 1133334, 0.0f)}, {event(kVodEventConnect, 5, {4})}},
             &camera);
    EXPECT_EQ(s.trackedId, 4);
    EXPECT_EQ(std::dynamic_pointer_cast<VodObject>(s.findObject(4))->history().size(), 1u);
}

TEST(VodStorageUpdate, ExclusionHoldsThroughAMiss)
{
    TrackerScene s = fold(TrackerScene(), {1000000, {detection(1, 1000000, 0.0f)}});
    s.exclude(1);
    s = fold(s, {1100000, {}});
    EXPECT_EQ(s.excludedIds, (std::set<int>{1}));
    s = fold(s, {1200000, {detection(1, 1200000, 0.0f)}});
    EXPECT_EQ(s.excludedIds, (std::set<int>{1}));
}

TEST(VodStorageUpdate, PositionsFeedTheMotionHistory)
{
    FixedCamera camera;
    TrackerScene s;
    for (int i = 0; i < 40; i++) {
        std::int64_t t = 1000000 + i * kFrameUs;
        s = fold(s, {t, {detection(1, t, -0.5f + 0.02f * static_cast<float>(i))}}, &camera);
    }
    auto o = std::dynamic_pointer_cast<VodObject>(s.findObject(1));
    ASSERT_TRUE(o);
    EXPECT_TRUE(s.hasPosition);
    EXPECT_TRUE(o->moving); // walking right, camera still
    EXPECT_GT(o->latestPanTilt.x, 0.0f);
    EXPECT_EQ(o->history().size(), VodObject::kMaxHistory);

    // A direction that cannot be computed is unknown, not (0, 0).
    camera.convert = false;
    std::int64_t t = 1000000 + 40 * kFrameUs;
    s = fold(s, {t, {detection(1, t, 0.3f)}}, &camera);
    o = std::dynamic_pointer_cast<VodObject>(s.findObject(1));
    EXPECT_TRUE(std::isnan(o->history().back().object.x));
    EXPECT_TRUE(std::isnan(o->latestPanTilt.x));
    EXPECT_EQ(o->history().back().camera.y, -10.0f);
}

TEST(VodStorageUpdate, ClassChangeTakesTheNewClass)
{
    TrackerScene s = fold(TrackerScene(), {1000000, {detection(1, 1000000, 0.0f, 0)}});
    s = fold(s, {1100000, {detection(1, 1100000, 0.0f, 1)}});
    auto o = s.findObject(1);
    EXPECT_EQ(o->objectType, 1);
    EXPECT_FALSE(o->human);
}

TEST(VodStorageUpdate, OtherKindsAreNotCarried)
{
    TrackerScene s;
    auto k = std::make_shared<KineObject>();
    k->id = 3;
    s.addObject(k, true);
    s = fold(s, {1000000, {}});
    EXPECT_TRUE(s.objects.empty());
}

} // namespace
} // namespace quillon
