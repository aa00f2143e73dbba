#include <gtest/gtest.h>

#include "quillon/tracking/objects/scene_update.h"
#include "quillon/tracking/objects/tracker_scene.h"

namespace quillon
{
namespace
{

std::shared_ptr<TrackingObject> object(int id, int source = kSourceScene, int confidence = 1,
                                       Box box = {0.0f, 0.0f, 0.1f, 0.1f})
{
    auto o = std::make_shared<KineObject>();
    o->id = id;
    o->source = source;
    o->confidenceThreshold = 1;
    o->setConfidence(confidence);
    o->shape = Polygon::box(box.x, box.x + box.width, box.y, box.y + box.height);
    return o;
}

KineObject kine(int id, std::int64_t time, int confidence = 1)
{
    KineObject k;
    k.id = id;
    k.source = kSourceScene;
    k.confidence = confidence;
    k.lastSeenUs = time;
    k.newestUs = time;
    k.moving = true;
    return k;
}

TEST(TrackerScene, StoreOperations)
{
    TrackerScene scene(5);
    EXPECT_EQ(scene.trackedId, -1);
    EXPECT_EQ(scene.lastStoppedId, -1);
    scene.addObject(object(1), true);
    scene.addObject(object(2), false);
    scene.addObject(object(1), true); // no duplicate check
    EXPECT_EQ(scene.objects.size(), 3u);
    EXPECT_EQ(scene.findObject(1), scene.objects[0]);
    EXPECT_FALSE(scene.isVisible(2));

    KineObject incoming = kine(2, 700, 5);
    incoming.velocityX = 0.5f;
    EXPECT_EQ(scene.updateObject(incoming), 0);
    EXPECT_TRUE(scene.isVisible(2));
    EXPECT_EQ(scene.objects[1]->velocityX, 0.5f);
    EXPECT_EQ(scene.objects[1]->lastSeenUs, 700);
    EXPECT_EQ(scene.objects[1]->confidence, 5);
    EXPECT_EQ(scene.updateObject(kine(9, 1)), -1);

    scene.exclude(2);
    scene.exclude(42); // logged, ignored
    EXPECT_EQ(scene.excludedIds, (std::set<int>{2}));
    EXPECT_EQ(scene.removeObject(2), 1);
    EXPECT_TRUE(scene.excludedIds.empty());
    EXPECT_FALSE(scene.isVisible(2));
    EXPECT_EQ(scene.removeObject(2), -1);

    EXPECT_TRUE(scene.setTracked(1));
    EXPECT_FALSE(scene.setTracked(77));
    EXPECT_EQ(scene.trackedId, -1);
    EXPECT_TRUE(scene.setTracked(-1));
}

TEST(TrackerScene, ExclusionsHoldConfidenceBelowThreshold)
{
    TrackerScene scene;
    auto o = object(3, kSourceDetection, 90);
    o->confidenceThreshold = 40;
    scene.addObject(o, true);
    scene.exclude(3);
    scene.applyExclusions();
    EXPECT_EQ(o->confidence, 39);
    EXPECT_FALSE(o->isConfident());
}

TEST(TrackerScene, MarkReportedFlagsTheTrackedObject)
{
    TrackerScene scene;
    scene.addObject(object(1), true);
    scene.addObject(object(2), true);
    scene.addObject(object(3, kSourceDetection), true);
    scene.setTracked(2);
    scene.markReported(kSourceScene);
    EXPECT_EQ(scene.objects[0]->flags, kFlagReported);
    EXPECT_EQ(scene.objects[1]->flags, kFlagReported | kFlagTracked);
    EXPECT_EQ(scene.objects[2]->flags, 0);
}

TEST(TrackerScene, Searches)
{
    TrackerScene empty;
    EXPECT_EQ(empty.findNearest({0, 0}, 0), std::make_pair(-1, TrackerScene::kNoDistance));
    EXPECT_EQ(empty.findBestOverlap({0, 0, 1, 1}, 0), std::make_pair(-1, 0.0f));

    TrackerScene scene;
    scene.addObject(object(1, kSourceScene, 1, {0.0f, 0.0f, 0.2f, 0.2f}), true);
    scene.addObject(object(2, kSourceScene, 1, {0.0f, 0.0f, 0.2f, 0.2f}), true); // tie
    scene.addObject(object(3, kSourceScene, 0, {0.5f, 0.5f, 0.2f, 0.2f}), true);
    auto overlap = scene.findBestOverlap({0.1f, 0.0f, 0.2f, 0.2f}, 1);
    EXPECT_EQ(overlap.first, 1); // first wins ties
    EXPECT_NEAR(overlap.second, 0.02f / 0.06f, 1e-5);
    EXPECT_EQ(scene.findBestOverlap({0.5f, 0.5f, 0.2f, 0.2f}, 1).first, -1); // 3 too unsure
    EXPECT_EQ(scene.findBestOverlap({0.5f, 0.5f, 0.2f, 0.2f}, 0).first, 3);
    EXPECT_EQ(scene.findBestOverlap({0.2f, 0.0f, 0.1f, 0.1f}, 0).first, -1); // edge touch
    auto nearest = scene.findNearest({0.6f, 0.6f}, 0);
    EXPECT_EQ(nearest.first, 3);
    EXPECT_NEAR(nearest.second, 0.0f, 1e-6);
    EXPECT_EQ(scene.findNearest({0.6f, 0.6f}, 1).first, 1);

    // Adjacent: the larger confident neighbour within reach, not the far one.
    TrackerScene adj;
    adj.addObject(object(1, kSourceScene, 1, {0.0f, 0.0f, 0.1f, 0.1f}), true);
    adj.addObject(object(2, kSourceScene, 1, {0.25f, 0.0f, 0.2f, 0.2f}), true);
    adj.addObject(object(3, kSourceScene, 1, {0.9f, 0.9f, 0.5f, 0.5f}), true);
    adj.addObject(object(4, kSourceScene, 0, {0.1f, 0.0f, 0.3f, 0.3f}), true);
    EXPECT_EQ(adj.findAdjacentLargest(*adj.objects[0]), 2);
}

TEST(TrackerScene, DeepCopySharesNothing)
{
    TrackerScene scene(10);
    scene.addObject(object(1), true);
    TrackerScene copy = scene.deepCopy();
    copy.objects[0]->setConfidence(77);
    EXPECT_EQ(scene.objects[0]->confidence, 1);
    EXPECT_NE(dynamic_cast<KineObject*>(copy.objects[0].get()), nullptr);
}

struct SceneUpdateCase {
    const char* name;
    std::vector<int> stored;
    int tracked;
    std::vector<KineEvent> events;
    int trackedAfter;
    std::vector<int> idsAfter;
};

class SceneUpdate : public ::testing::TestWithParam<SceneUpdateCase>
{
};

TEST_P(SceneUpdate, EventsMoveTheTrackedId)
{
    const SceneUpdateCase& c = GetParam();
    TrackerScene scene(1000);
    for (int id : c.stored)
        scene.addObject(object(id), true);
    scene.setTracked(c.tracked);
    KineSceneUpdate update;
    update.sceneTimeUs = 2000;
    update.events = c.events;
    scene.applySceneUpdate(update);
    EXPECT_EQ(scene.trackedId, c.trackedAfter);
    std::vector<int> ids;
    for (const auto& o : scene.objects)
        ids.push_back(o->getId());
    EXPECT_EQ(ids, c.idsAfter);
    EXPECT_EQ(scene.sceneTimeUs, 2000);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SceneUpdate,
    ::testing::Values(
        SceneUpdateCase{"MergeIntoFive", {5, 7}, 7, {{kKineMerge, 5, {5, 7}}}, 5, {5, 7}},
        SceneUpdateCase{"MergeIntoNew", {5, 7}, 7, {{kKineMerge, 9, {5, 7}}}, 9, {5, 7, 9}},
        SceneUpdateCase{"MergeMissingMember", {5}, -1, {{kKineMerge, 9, {5, 6}}}, -1, {5}},
        SceneUpdateCase{"SplitKeeps", {4}, 4, {{kKineSplit, 4, {4, 9}}}, 4, {4, 9}},
        SceneUpdateCase{"SplitMoves", {4}, 4, {{kKineSplit, 4, {8, 9}}}, 9, {4, 8, 9}},
        SceneUpdateCase{"SplitUnknown", {4}, 4, {{kKineSplit, 5, {8, 9}}}, 4, {4}},
        SceneUpdateCase{"DeleteTracked", {4, 5}, 4, {{kKineDelete, 4, {}}}, -1, {5}}),
    [](const ::testing::TestParamInfo<SceneUpdateCase>& p) { return std::string(p.param.name); });

TEST(SceneUpdateMerge, MergedMemberLosesConfidence)
{
    TrackerScene scene(1000);
    scene.addObject(object(5, kSourceScene, 3), true);
    scene.addObject(object(7, kSourceScene, 3), true);
    KineSceneUpdate update;
    update.sceneTimeUs = 2000;
    update.events = {{kKineMerge, 5, {5, 7}}};
    update.objects = {kine(5, 2000, 3)};
    scene.applySceneUpdate(update);
    // 7 is not in the update: unseen (-1), then merged (0).
    EXPECT_EQ(scene.findObject(7)->confidence, 0);
    EXPECT_EQ(scene.findObject(5)->confidence, 3);
}

TEST(SceneUpdateMerge, AbsentSceneObjectsStayOthersAgeOut)
{
    TrackerScene scene(0);
    KineSceneUpdate first;
    first.sceneTimeUs = 1000000;
    first.objects = {kine(1, 1000000, 4)};
    scene.applySceneUpdate(first);
    auto other = object(50, kSourceDetection);
    other->setTime(1000000);
    scene.addObject(other, false);

    KineSceneUpdate later;
    for (std::int64_t t : {2000000LL, 61000000LL, 62000000LL}) {
        later.sceneTimeUs = t;
        scene.applySceneUpdate(later);
    }
    ASSERT_NE(scene.findObject(1), nullptr);
    EXPECT_EQ(scene.findObject(1)->confidence, -1);
    EXPECT_TRUE(scene.isVisible(1));
    // The previous scene time was 61 s: 60 s after the last sighting.
    EXPECT_EQ(scene.findObject(50), nullptr);
}

} // namespace
} // namespace quillon
