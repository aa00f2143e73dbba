// The simulated detector and scene tracker: what the camera sees of a
// scripted scene, frame by frame.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame_engine.h"

using namespace camsim::feeds;

namespace
{

// Camera 4 m up looking north, slightly down, 60 x 34 degrees.
const ViewPose kWide{0.0, -5.0, 60.0, 34.0};

Scenario oneObject(const std::string& object, const std::string& detector = "{}")
{
    return parseScenario(R"({"camera": {"height": 4}, "detector": )" + detector +
                         R"(, "objects": [)" + object + "]}");
}

float centreU(const Box& b)
{
    return (b.left + b.right) / 2;
}

TEST(FrameEngine, ObjectCrossingMovesRightWithSteadySize)
{
    FrameEngine e(
        oneObject(R"({"path": [{"t": 0, "x": -6, "y": 20}, {"t": 8, "x": 6, "y": 20}]})"));
    float lastU = -2.0f;
    float firstHeight = 0.0f;
    for (int k = 0; k <= 16; k++) {
        Frame f = e.render(k * 0.5, kWide);
        ASSERT_EQ(f.detections.size(), 1u) << "t=" << k * 0.5;
        const Detection& d = f.detections[0];
        EXPECT_GT(centreU(d.box), lastU);
        lastU = centreU(d.box);
        EXPECT_GT(d.box.top, d.box.bottom); // v upward
        if (k == 8) {
            EXPECT_NEAR(centreU(d.box), 0.0f, 0.01f); // straight ahead
        }
        if (firstHeight == 0.0f)
            firstHeight = d.box.height();
        EXPECT_NEAR(d.box.height(), firstHeight, firstHeight * 0.1f);
        EXPECT_EQ(d.detClass, 0u);
        EXPECT_EQ(d.id, f.detections[0].id);
    }
}

TEST(FrameEngine, SizeFollowsDistanceAndZoom)
{
    auto heightAt = [](double y, const ViewPose& pose) {
        FrameEngine e(oneObject(R"({"path": [{"x": 0, "y": )" + std::to_string(y) + "}]}"));
        Frame f = e.render(0.0, pose);
        return f.detections.empty() ? 0.0f : f.detections[0].box.height();
    };
    // A 1.75 m person at 20 m seen across 34 degrees: about 2 * atan(...)
    // of the vertical field, rectilinear.
    float h20 = heightAt(20, kWide);
    float h40 = heightAt(40, kWide);
    EXPECT_NEAR(h20 / h40, 2.0f, 0.15f);
    double expected = (std::tan(std::atan2(4.0, 20.0)) - std::tan(std::atan2(4.0 - 1.75, 20.0))) /
                      std::tan(17.0 * M_PI / 180) / std::cos(5.0 * M_PI / 180);
    EXPECT_NEAR(h20, expected, expected * 0.15);
    // Halving the field of view (about twice the zoom) doubles the box.
    ViewPose tele{0.0, -8.0, 30.0, 17.0};
    float tele20 = heightAt(20, tele);
    EXPECT_NEAR(tele20 / h20, 2.0f, 0.2f);
}

TEST(FrameEngine, ObjectOutsideThePictureGivesEmptyFrames)
{
    FrameEngine e(oneObject(R"({"path": [{"x": 0, "y": 20}]})"));
    ViewPose away{90.0, -5.0, 60.0, 34.0};
    Frame f = e.render(0.0, away);
    EXPECT_TRUE(f.detections.empty());
    EXPECT_TRUE(f.sceneObjects.empty());
    ASSERT_EQ(f.views.size(), 1u);
    EXPECT_FALSE(f.views[0].inPicture);
    EXPECT_NEAR(f.views[0].pan, 0.0, 1e-6); // still reported where it is
    // Behind the camera too.
    Frame behind = e.render(0.1, ViewPose{180.0, -5.0, 60.0, 34.0});
    EXPECT_TRUE(behind.detections.empty());
}

TEST(FrameEngine, StatusesGrowAndTrackIsDeletedAfterLeaving)
{
    // Walks out of the picture to the east at 2 m/s, gone at t = 10.
    FrameEngine e(oneObject(R"({"path": [{"t": 0, "x": 0, "y": 15}, {"t": 10, "x": 20, "y": 15}]})",
                            R"({"fps": 10, "track_timeout": 1.0})"));
    std::vector<int> statuses;
    int deleteAt = -1;
    int lastSeen = -1;
    std::uint32_t id = 0;
    for (int k = 0; k < 100; k++) {
        Frame f = e.render(k * 0.1, kWide);
        if (!f.detections.empty()) {
            statuses.push_back(f.detections[0].status);
            id = f.detections[0].id;
            lastSeen = k;
        }
        for (const TrackEvent& ev : f.vodEvents) {
            EXPECT_EQ(ev.action, kVodDelete);
            EXPECT_EQ(ev.objectId, static_cast<int>(id));
            EXPECT_EQ(deleteAt, -1);
            deleteAt = k;
        }
    }
    ASSERT_GT(statuses.size(), 12u);
    EXPECT_EQ(statuses[0], kUntracked);
    EXPECT_EQ(statuses[3], kTrackedUnconfident);
    EXPECT_EQ(statuses[11], kTrackedConfident);
    ASSERT_GE(lastSeen, 0);
    EXPECT_EQ(deleteAt, lastSeen + 10); // one second of absence at 10 fps
}

TEST(FrameEngine, IdSwitchGivesConnectEvent)
{
    FrameEngine e(oneObject(R"({"path": [{"x": 0, "y": 15}], "id_switches": [1.0]})"));
    Frame before = e.render(0.9, kWide);
    ASSERT_EQ(before.detections.size(), 1u);
    int oldId = static_cast<int>(before.detections[0].id);
    Frame after = e.render(1.0, kWide);
    ASSERT_EQ(after.vodEvents.size(), 1u);
    EXPECT_EQ(after.vodEvents[0].action, kVodConnect);
    EXPECT_EQ(after.vodEvents[0].objectId, oldId);
    ASSERT_EQ(after.vodEvents[0].objectIds.size(), 1u);
    ASSERT_EQ(after.detections.size(), 1u);
    EXPECT_EQ(static_cast<int>(after.detections[0].id), after.vodEvents[0].objectIds[0]);
    ASSERT_EQ(after.sceneEvents.size(), 1u);
    EXPECT_EQ(after.sceneEvents[0].action, kSceneDelete);
}

TEST(FrameEngine, CrossingPeopleMergeAndSplitInTheSceneFeed)
{
    Scenario s = parseScenario(R"({"camera": {"height": 4}, "objects": [
        {"path": [{"t": 0, "x": -6, "y": 18}, {"t": 8, "x": 6, "y": 18}]},
        {"path": [{"t": 0, "x": 6, "y": 18.5}, {"t": 8, "x": -6, "y": 18.5}]}]})");
    FrameEngine e(std::move(s));
    std::vector<TrackEvent> events;
    std::size_t minObjects = 10;
    for (int k = 0; k <= 80; k++) {
        Frame f = e.render(k * 0.1, kWide);
        EXPECT_EQ(f.detections.size(), 2u); // the detector keeps seeing both
        minObjects = std::min(minObjects, f.sceneObjects.size());
        for (const auto& ev : f.sceneEvents)
            events.push_back(ev);
    }
    EXPECT_EQ(minObjects, 1u);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].action, kSceneMerge);
    EXPECT_EQ(events[1].action, kSceneSplit);
    EXPECT_EQ(events[1].objectId, events[0].objectId);
    EXPECT_NE(events[1].objectIds[0], events[0].objectIds[0]); // a new track after the split
}

TEST(FrameEngine, NoiseAndMissesAreRepeatableForASeed)
{
    std::string det = R"({"box_noise": 0.05, "miss_rate": 0.3, "class_confusion": 0.2,
                          "score": {"mean": 80, "noise": 10}, "seed": 42})";
    std::string obj = R"({"path": [{"t": 0, "x": -5, "y": 15}, {"t": 10, "x": 5, "y": 15}]})";
    FrameEngine a(oneObject(obj, det)), b(oneObject(obj, det));
    int misses = 0, confusions = 0;
    for (int k = 0; k < 100; k++) {
        Frame fa = a.render(k * 0.1, kWide), fb = b.render(k * 0.1, kWide);
        ASSERT_EQ(fa.detections.size(), fb.detections.size());
        if (fa.detections.empty()) {
            misses++;
            continue;
        }
        EXPECT_EQ(fa.detections[0].box.left, fb.detections[0].box.left);
        EXPECT_EQ(fa.detections[0].score, fb.detections[0].score);
        confusions += fa.detections[0].detClass != 0;
    }
    EXPECT_GT(misses, 10);
    EXPECT_LT(misses, 50);
    EXPECT_GT(confusions, 5);
}

// Hidden stretches of object `index` over a scenario played at 15 fps by a
// wide camera that keeps the object in the middle of the picture.
struct Hidden {
    double from;
    double to;
    bool sameIdAfter;
};
std::vector<Hidden> hiddenStretches(const std::string& file, std::size_t index, double until)
{
    FrameEngine e(loadScenario(std::string(SCENARIO_DIR) + "/" + file));
    std::vector<Hidden> out;
    bool hidden = false;
    int idBefore = -1;
    for (int k = 0; k * (1.0 / 15) < until; k++) {
        double t = k / 15.0;
        std::vector<bool> present;
        ObjectView where = e.look(t, kWide, &present)[index];
        Frame f = e.render(t, ViewPose{where.pan, where.tilt, 60.0, 34.0});
        if (!f.present[index])
            continue;
        if (f.occluded[index] && !hidden) {
            out.push_back({t, t, false});
            idBefore = e.trackId(index);
        }
        if (!f.occluded[index] && hidden) {
            out.back().to = t;
            out.back().sameIdAfter = e.trackId(index) == idBefore;
        }
        hidden = f.occluded[index];
        EXPECT_EQ(e.detected(index), !hidden) << "t=" << t; // no misses in these scenes
    }
    return out;
}

TEST(FrameEngine, OccludersHideAShortAndALongStretch)
{
    // The walker of person-occluded passes behind a pillar (track kept) and
    // a van (track lost for longer than the track time-out: a new id).
    auto hidden = hiddenStretches("person-occluded.json", 0, 24.0);
    ASSERT_EQ(hidden.size(), 2u);
    EXPECT_NEAR(hidden[0].to - hidden[0].from, 0.6, 0.15);
    EXPECT_TRUE(hidden[0].sameIdAfter);
    EXPECT_NEAR(hidden[1].to - hidden[1].from, 3.0, 0.2);
    EXPECT_FALSE(hidden[1].sameIdAfter);
    // The report phases of the scenario describe the same stretches.
    EXPECT_NEAR(hidden[0].from, 8.4, 0.2);
    EXPECT_NEAR(hidden[1].from, 14.0, 0.2);
}

TEST(FrameEngine, NearerPersonHidesTheFartherOnlyWithObjectOcclusion)
{
    auto hidden = hiddenStretches("crossing-occluded.json", 0, 16.0);
    ASSERT_EQ(hidden.size(), 1u);
    EXPECT_GT(hidden[0].to - hidden[0].from, 0.2);
    EXPECT_LT(hidden[0].to - hidden[0].from, 1.0); // shorter than the track time-out
    EXPECT_TRUE(hidden[0].sameIdAfter);
    EXPECT_NEAR(hidden[0].from, 7.7, 0.3);
    // The nearer one is never hidden.
    EXPECT_TRUE(hiddenStretches("crossing-occluded.json", 1, 16.0).empty());
}

TEST(FrameEngine, OccluderBehindTheObjectOrOutOfTheWayHidesNothing)
{
    for (const char* occluder : {R"({"x": 0, "y": 30, "width": 5, "height": 5})",
                                 R"({"x": 8, "y": 10, "width": 2, "height": 3})"}) {
        FrameEngine e(parseScenario(R"({"camera": {"height": 4}, "occluders": [)" +
                                    std::string(occluder) +
                                    R"(], "objects": [{"path": [{"x": 0, "y": 20}]}]})"));
        Frame f = e.render(0.0, kWide);
        EXPECT_EQ(f.detections.size(), 1u) << occluder;
    }
}

TEST(FrameEngine, ScoreWindowLowersTheScoreAndKeepsTheTrack)
{
    FrameEngine e(oneObject(R"({"path": [{"x": 0, "y": 15}],
                               "score_windows": [{"from": 2, "to": 3, "score": 15}]})",
                            R"({"score": {"mean": 80}})"));
    std::uint32_t id = 0;
    for (int k = 0; k < 40; k++) {
        double t = k * 0.1;
        Frame f = e.render(t, kWide);
        ASSERT_EQ(f.detections.size(), 1u);
        bool inWindow = k >= 20 && k < 30;
        EXPECT_EQ(f.detections[0].score, inWindow ? 15u : 80u) << "t=" << t;
        if (k == 0)
            id = f.detections[0].id;
        EXPECT_EQ(f.detections[0].id, id);
        EXPECT_TRUE(f.vodEvents.empty());
    }
}

TEST(FrameEngine, CentreIsGivenInDeviceCoordinatesInAndOutOfThePicture)
{
    FrameEngine e(oneObject(R"({"path": [{"x": 0, "y": 20}]})"));
    // Straight ahead: u = 0; 15 degrees to the right of the aim at 60 degrees
    // across: u = tan(15) / tan(30).
    ObjectView ahead =
        e.look(0.0, ViewPose{0.0, std::atan2(0.875 - 4, 20) * 180 / M_PI, 60, 34})[0];
    ASSERT_TRUE(ahead.projected);
    EXPECT_NEAR(ahead.u, 0.0, 1e-3);
    EXPECT_NEAR(ahead.v, 0.0, 1e-3);
    ObjectView right = e.look(0.0, ViewPose{-15.0, ahead.tilt, 60, 34})[0];
    EXPECT_NEAR(right.u, std::tan(15 * M_PI / 180) / std::tan(30 * M_PI / 180), 0.02);
    // Left of the picture, still placed (u < -1), not in the picture.
    ObjectView outside = e.look(0.0, ViewPose{50.0, ahead.tilt, 60, 34})[0];
    EXPECT_TRUE(outside.projected);
    EXPECT_FALSE(outside.inPicture);
    EXPECT_LT(outside.u, -1.0);
    // Behind the camera: not placed.
    EXPECT_FALSE(e.look(0.0, ViewPose{180.0, 0.0, 60, 34})[0].projected);
}

} // namespace
