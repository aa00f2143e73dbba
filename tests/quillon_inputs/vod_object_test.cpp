#include <gtest/gtest.h>

#include "quillon/inputs/vod/vod_object.h"

namespace quillon
{
namespace
{

constexpr float kNaN = VodHistorySample::kUnknown;

VodObject makeObject(int classId, bool human, int score = 80, int threshold = 40)
{
    return VodObject(7, 1000000, Polygon::box(-0.1f, 0.1f, 0.2f, -0.2f), score, threshold, classId,
                     human, kVodTrackedConfident, true);
}

// Feeds `samples` observations 1/15 s apart, starting at 1 s; the object's
// pan moves by `objectStep` and the camera's by `cameraStep` per frame.
bool feed(VodObject& o, int samples, float objectStep, float cameraStep, bool tracked,
          float startPan = 0.0f)
{
    bool moving = false;
    for (int i = 1; i <= samples; i++) {
        std::int64_t t = 1000000 + i * 66667;
        o.setTime(t);
        float cam = cameraStep * static_cast<float>(i);
        float pan = startPan + objectStep * static_cast<float>(i);
        if (pan > 180.0f)
            pan -= 360.0f;
        moving = o.appendHistory({cam, 0.0f}, {60.0f, 34.0f}, {pan, -5.0f}, o.getBox(),
                                 kVodTrackedConfident, o.confidence, t, tracked);
    }
    return moving;
}

TEST(VodObject, ConstructionAndConfidence)
{
    VodObject o = makeObject(0, true, 30, -1);
    EXPECT_EQ(o.source, kSourceDetection);
    EXPECT_EQ(o.firstSeenUs, 1000000);
    EXPECT_TRUE(o.isConfident()); // threshold -1 admits every score
    EXPECT_FALSE(o.confident);
    ASSERT_EQ(o.history().size(), 1u);
    EXPECT_TRUE(std::isnan(o.history()[0].object.x));
    EXPECT_EQ(o.history()[0].box, (Box{-0.1f, -0.2f, 0.2f, 0.4f}));
    EXPECT_FALSE(makeObject(0, true, 39, 40).isConfident());
}

TEST(VodObject, TriggerTimes)
{
    struct Case {
        int classId;
        bool human;
        std::int64_t movingForUs;
        bool triggers;
    } cases[] = {{0, true, 200000, false},
                 {0, true, 250000, true},
                 {1, false, 1999999, false},
                 {1, false, 2000000, true}};
    for (const Case& c : cases) {
        VodObject o = makeObject(c.classId, c.human);
        o.setMoving(true);
        o.setTime(o.lastSeenUs + c.movingForUs);
        EXPECT_EQ(o.shouldTrigger(), c.triggers) << c.movingForUs;
    }
}

TEST(VodObject, AnalysisNeedsEightSamplesAndTwoSeconds)
{
    VodObject seven = makeObject(0, true);
    seven.firstSeenUs = -5000000; // old enough
    EXPECT_FALSE(feed(seven, 6, 1.0f, 0.0f, false));
    EXPECT_EQ(seven.history().size(), 7u);
    EXPECT_FALSE(seven.motionAnalysed);

    VodObject young = makeObject(0, true);
    EXPECT_FALSE(feed(young, 7, 1.0f, 0.0f, false));
    EXPECT_EQ(young.history().size(), 8u);
    EXPECT_FALSE(young.motionAnalysed); // under 2 s old

    VodObject old = makeObject(0, true);
    old.firstSeenUs = -5000000;
    EXPECT_TRUE(feed(old, 7, 1.0f, 0.0f, false));
    EXPECT_TRUE(old.motionAnalysed);
    EXPECT_TRUE(old.moving);
    // Steps are older minus newer: moving toward larger pan gives a negative rate.
    EXPECT_LT(old.rates.x, 0.0f);
}

TEST(VodObject, PanStepsWrapAcross180)
{
    VodObject o = makeObject(0, true);
    o.firstSeenUs = -5000000;
    EXPECT_TRUE(feed(o, 10, 0.5f, 0.0f, false, 177.0f));
    // 177.5 -> -178 is 4.5 degrees in 9 steps, not -355.5; the span
    // includes the first (direction-less) sample.
    EXPECT_NEAR(o.rates.x, -4.5f / 0.66667f, 0.01f);
}

TEST(VodObject, MovingCameraOnlyTheTrackedObjectMoves)
{
    // The camera follows at 0.5 deg/frame: a person standing in the world
    // drifts across the picture, so its direction stays put.
    VodObject standing = makeObject(0, true);
    standing.firstSeenUs = -5000000;
    EXPECT_FALSE(feed(standing, 10, 0.0f, 0.5f, false));
    EXPECT_TRUE(standing.motionAnalysed);

    VodObject car = makeObject(1, false);
    car.firstSeenUs = -5000000;
    EXPECT_TRUE(feed(car, 10, 0.6f, 0.5f, true)); // followed, a little ahead
    VodObject untracked = makeObject(1, false);
    untracked.firstSeenUs = -5000000;
    EXPECT_FALSE(feed(untracked, 10, 0.6f, 0.5f, false));
}

TEST(VodObject, LowScoreSampleStopsTheAnalysis)
{
    VodObject o = makeObject(0, true);
    o.firstSeenUs = -5000000;
    o.appendHistory({0, 0}, {60, 34}, {0, 0}, o.getBox(), 2, 10, 1000000, false);
    EXPECT_FALSE(feed(o, 10, 1.0f, 0.0f, false));
    EXPECT_FALSE(o.motionAnalysed);
}

TEST(VodObject, UnknownDirectionsAreSkipped)
{
    VodObject o = makeObject(0, true);
    o.firstSeenUs = -5000000;
    for (int i = 1; i <= 12; i++)
        o.appendHistory({kNaN, kNaN}, {kNaN, kNaN}, {kNaN, kNaN}, o.getBox(), 2, 80, i * 66667,
                        false);
    EXPECT_FALSE(o.moving);
    EXPECT_EQ(o.history().size(), 13u); // with the construction sample
}

TEST(VodObject, HistoryIsCappedAndCopiesKeepIt)
{
    VodObject o = makeObject(0, true);
    o.firstSeenUs = -5000000;
    feed(o, 30, 0.5f, 0.0f, false);
    EXPECT_EQ(o.history().size(), VodObject::kMaxHistory);
    EXPECT_EQ(o.history().back().timeUs, 1000000 + 30 * 66667);

    std::shared_ptr<TrackingObject> copy = o.clone();
    auto* vod = dynamic_cast<VodObject*>(copy.get());
    ASSERT_NE(vod, nullptr);
    EXPECT_EQ(vod->history().size(), VodObject::kMaxHistory);
    feed(*vod, 1, 0.5f, 0.0f, false);
    EXPECT_LE(vod->history().capacity(), VodObject::kMaxHistory);
}

TEST(VodObject, SetLostForgetsTheObservation)
{
    VodObject o = makeObject(0, true);
    o.displayBox = {0.1f, 0.1f, 0.2f, 0.2f};
    o.velocityX = 0.3f;
    o.setLost(true);
    EXPECT_TRUE(o.lost);
    EXPECT_EQ(o.confidence, 0);
    EXPECT_EQ(o.detectionStatus, kVodUntracked);
    EXPECT_TRUE(o.history().empty());
    EXPECT_EQ(o.getBox(), (Box{}));
    EXPECT_EQ(o.velocityX, 0.0f);
    EXPECT_TRUE(std::isnan(o.latestPanTilt.x));
    o.setLost(false);
    EXPECT_FALSE(o.lost);
}

} // namespace
} // namespace quillon
