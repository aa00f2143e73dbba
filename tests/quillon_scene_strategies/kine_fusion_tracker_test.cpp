// KineTracker and FusionTracker on hand-built scenes: tracked ids through
// scene-engine events, the fused scene (lag, search box, overlap threshold,
// one object per id) and detections taken from the bus.
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include "quillon/core/channel.h"
#include "quillon/inputs/kine/kine_scene_update_message.h"
#include "quillon/tracking/strategies/fusion_tracker.h"
#include "quillon/tracking/strategies/kine_tracker.h"
#include "scene_builders.h"

namespace scenetest
{
namespace
{

constexpr Rect kCentre{-0.1f, 0.1f, -0.1f, 0.1f};

TEST(KineTracker, ReportsSceneObjectsAndFollowsTrackedIdThroughEvents)
{
    Reports reports;
    KineTracker t(1, reports.callback(), nullptr, noFeeds());
    t.step(kineUpdate(kSecond, {{1, kCentre}, {2, {0.3f, 0.5f, 0.0f, 0.2f}, 0.5f, -0.5f}}));
    ASSERT_EQ(reports.scenes.size(), 1u);
    EXPECT_EQ(ids(reports.last()), (std::vector<int>{1, 2}));
    EXPECT_EQ(reports.last().objects[1]->source, kSourceScene);
    EXPECT_EQ(reports.last().objects[1]->flags & kFlagReported, kFlagReported);
    EXPECT_FALSE(t.setTrackingObject(9, true));
    ASSERT_TRUE(t.setTrackingObject(2, false));

    // Merge of 2 into 1: tracking moves to 1.
    KineEvent merge;
    merge.action = kKineMerge;
    merge.objectId = 1;
    merge.objectIds = {2};
    t.step(kineUpdate(2 * kSecond, {{1, kCentre}}, {merge}));
    EXPECT_EQ(t.trackedId(), 1);
    EXPECT_EQ(reports.last().trackedId, 1);
    EXPECT_EQ(reports.last().findObject(1)->flags, kFlagReported | kFlagTracked);

    // Deleting the tracked object clears tracking.
    t.step(kineUpdate(3 * kSecond, {}, {kineDelete(1)}));
    EXPECT_EQ(t.trackedId(), -1);
    EXPECT_EQ(reports.last().trackedId, -1);
}

TEST(KineTracker, ExcludedObjectIsTakenOnlyByForce)
{
    Reports reports;
    KineTracker t(1, reports.callback(), nullptr, noFeeds());
    t.step(kineUpdate(kSecond, {{4, kCentre}}));
    ASSERT_TRUE(t.setTrackingObject(4, false));
    t.unsetTrackingObject(true);
    EXPECT_EQ(t.trackedId(), -1);
    t.step(kineUpdate(2 * kSecond, {{4, kCentre}}));
    EXPECT_FALSE(reports.last().findObject(4)->isConfident());
    EXPECT_FALSE(t.setTrackingObject(4, false));
    EXPECT_TRUE(t.setTrackingObject(4, true));
    EXPECT_TRUE(t.hasObject(4));
}

// One scene-engine object against one detection, at a lag between them.
struct FusionCase {
    const char* name;
    double lagSeconds; // scene-engine time minus detection time
    Kine kine;
    Det det;
    bool fused;
    bool lagWarning;
};

TEST(FusionTracker, FusedSceneTable)
{
    const Kine still{5, {0.0f, 1.0f, -0.1f, 0.1f}};
    const Kine centre{5, kCentre};
    Kine fast = centre;
    fast.vx = 1.0f;
    FusionCase cases[] = {
        {"in step", 0.0, centre, {50, kCentre}, true, false},
        {"0.4 s lag", 0.4, centre, {50, kCentre}, true, false},
        {"0.6 s lag", 0.6, centre, {50, kCentre}, false, true},
        {"-0.6 s lag", -0.6, centre, {50, kCentre}, false, true},
        // A detection just right of the object: only a box widened by
        // |vx| = 1 (twice the width) overlaps it by more than 0.3.
        {"beside, still", 0.0, centre, {50, {0.05f, 0.2f, -0.1f, 0.1f}}, false, false},
        {"beside, fast", 0.0, fast, {50, {0.05f, 0.2f, -0.1f, 0.1f}}, true, false},
        // Overlap with the search box = the detection's share of its width.
        {"overlap 0.29", 0.0, still, {50, {0.0f, 0.29f, -0.1f, 0.1f}}, false, false},
        {"overlap 0.3", 0.0, still, {50, {0.0f, 0.3f, -0.1f, 0.1f}}, true, false},
        {"below the object's threshold", 0.0, centre, {50, kCentre, 0}, false, false},
    };
    for (const FusionCase& c : cases) {
        SCOPED_TRACE(c.name);
        Reports reports;
        FusionTracker t(1, reports.callback(), nullptr, noFeeds());
        t.detections().setClasses({{0, VodObjectType{0, "human", 30, true, true}}});
        const std::int64_t kineTime = 100 * kSecond;
        const auto detTime = kineTime - static_cast<std::int64_t>(c.lagSeconds * kSecond);
        t.detectionStep(*detections(detTime, {c.det}));
        captureLog();
        t.kineStep(kineUpdate(kineTime, {c.kine}));
        const std::string log = capturedLog();
        EXPECT_EQ(log.find("Warning big timediff KINE-time - VOD-time") != std::string::npos,
                  c.lagWarning)
            << log;
        ASSERT_EQ(reports.scenes.size(), 1u);
        const TrackerScene& s = reports.last();
        // Fused or not, the object appears once, under the scene engine's id.
        ASSERT_EQ(ids(s), std::vector<int>{5});
        const TrackingObject& o = *s.objects[0];
        EXPECT_EQ(o.source, c.fused ? kSourceFused : kSourceScene);
        if (c.fused) {
            EXPECT_EQ(o.typeName, "human");
            EXPECT_EQ(o.velocityX, c.kine.vx);
            EXPECT_EQ(o.confidence, c.det.score);
            EXPECT_EQ(o.flags, kFlagReported);
            // The union of both outlines.
            const Box b = o.getBox();
            EXPECT_FLOAT_EQ(b.x, std::min(c.kine.box.x1, c.det.box.x1));
            EXPECT_FLOAT_EQ(b.x + b.width, std::max(c.kine.box.x2, c.det.box.x2));
        }
    }
}

TEST(FusionTracker, TrackedFusedObjectIsMarkedAndExclusionHoldsIt)
{
    Reports reports;
    FusionTracker t(1, reports.callback(), nullptr, noFeeds());
    t.detectionStep(*detections(kSecond, {{50, kCentre}, {51, {0.5f, 0.7f, 0.0f, 0.2f}}}));
    t.kineStep(kineUpdate(kSecond, {{5, kCentre}, {6, {0.5f, 0.7f, 0.0f, 0.2f}}}));
    ASSERT_TRUE(t.setTrackingObject(6, false));
    t.kineStep(kineUpdate(kSecond + 66000, {{5, kCentre}, {6, {0.5f, 0.7f, 0.0f, 0.2f}}}));
    const TrackerScene& s = reports.last();
    EXPECT_EQ(ids(s), (std::vector<int>{5, 6}));
    EXPECT_EQ(s.trackedId, 6);
    EXPECT_EQ(s.findObject(6)->flags, kFlagReported | kFlagTracked);
    EXPECT_EQ(s.findObject(6)->source, kSourceFused);

    t.unsetTrackingObject(true);
    t.kineStep(kineUpdate(kSecond + 132000, {{5, kCentre}, {6, {0.5f, 0.7f, 0.0f, 0.2f}}}));
    EXPECT_FALSE(reports.last().findObject(6)->isConfident());
    EXPECT_TRUE(reports.last().findObject(5)->isConfident());
    EXPECT_FALSE(t.setTrackingObject(6, false));
    EXPECT_TRUE(t.setTrackingObject(6, true));
}

TEST(FusionTracker, TrackedObjectGoneLogsMissing)
{
    Reports reports;
    FusionTracker t(1, reports.callback(), nullptr, noFeeds());
    t.kineStep(kineUpdate(kSecond, {{5, kCentre}}));
    ASSERT_TRUE(t.setTrackingObject(5, false));
    captureLog();
    t.kineStep(kineUpdate(2 * kSecond, {}, {kineDelete(5)}));
    const std::string log = capturedLog();
    EXPECT_NE(log.find("Stopping tracking object with ID: 5"), std::string::npos) << log;
    EXPECT_EQ(t.trackedId(), -1);
    EXPECT_EQ(reports.last().trackedId, -1);
}

// Both feeds as bus messages: the fused strategy takes its detections from
// the bus, on the bus thread, like the scene-engine updates.
TEST(FusionTracker, TakesDetectionsFromTheBus)
{
    Channel bus;
    std::mutex m;
    std::condition_variable cv;
    std::vector<TrackerScene> scenes;
    std::thread::id reportThread;
    SceneFeeds feeds = noFeeds();
    feeds.bus = &bus;
    auto t = std::make_shared<FusionTracker>(
        1,
        [&](TrackerScene& s, Tracker*) {
            std::lock_guard<std::mutex> g(m);
            scenes.push_back(s.deepCopy());
            reportThread = std::this_thread::get_id();
            cv.notify_all();
        },
        nullptr, feeds);
    bus.subscribe(t);
    bus.post(std::make_unique<VodSceneUpdateMessage>(*detections(kSecond, {{50, kCentre}})));
    auto kine = std::make_unique<KineSceneUpdateMessage>();
    kine->update = kineUpdate(kSecond + 30000, {{5, kCentre}});
    bus.post(std::move(kine));
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return !scenes.empty(); }));
        ASSERT_EQ(ids(scenes.back()), std::vector<int>{5});
        EXPECT_EQ(scenes.back().objects[0]->source, kSourceFused);
        EXPECT_NE(reportThread, std::this_thread::get_id());
    }
    bus.stop();
}

} // namespace
} // namespace scenetest
