#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quillon/core/channel.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/tracking/strategies/strategy_factory.h"
#include "quillon/tracking/strategies/vod_class_merge.h"
#include "quillon/tracking/strategies/vod_tracker.h"
#include "quillon/tracking/strategies/vod_tracker2.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace quillon
{
namespace
{

using testsupport::count;
using testsupport::LogCapture;

// Log lines are mirrored to standard error for the captures below.
[[maybe_unused]] const bool kLogMirror = setenv("QUILLON_LOG_STDERR", "1", 1) == 0;

constexpr int kPerson = 0;
constexpr int kVehicle = 1;
constexpr int kThreshold = 40;
constexpr std::int64_t kSecond = 1000000;

struct Detection {
    int id;
    int classId = kPerson;
    int score = 80;
    float u = 0.0f;
};

std::shared_ptr<Message> frame(std::int64_t t, const std::vector<Detection>& detections,
                               std::vector<VodEvent> events = {})
{
    auto m = std::make_shared<VodSceneUpdateMessage>();
    m->sceneTimeUs = t;
    for (const Detection& d : detections)
        m->objects.emplace(d.id,
                           VodObject(d.id, t, Polygon::box(d.u - 0.05f, d.u + 0.05f, 0.2f, -0.2f),
                                     d.score, kThreshold, d.classId, d.classId == kPerson,
                                     kVodTrackedConfident, true));
    m->events = std::move(events);
    return m;
}

VodEvent connect(int from, std::set<std::int32_t> to)
{
    VodEvent e;
    e.action = kVodEventConnect;
    e.objectId = from;
    e.objectIds = std::move(to);
    return e;
}

VodEvent remove(int id)
{
    VodEvent e;
    e.action = kVodEventDelete;
    e.objectId = id;
    return e;
}

enum class Kind { Vod, Vod2 };

const char* name(Kind kind)
{
    return kind == Kind::Vod ? "VodTracker" : "VodTracker2";
}

// Strategies built with a capturing callback; the class settings file lives
// under a temporary CAMROOT. The test thread stands in for the bus thread.
class VodStrategies : public ::testing::Test
{
protected:
    void SetUp() override { setenv("CAMROOT", root.path().c_str(), 1); }
    void TearDown() override { unsetenv("CAMROOT"); }

    std::shared_ptr<VodStrategy> make(Kind kind)
    {
        TrackerCallback capture = [this](TrackerScene& scene, Tracker*) {
            reports.push_back(scene.deepCopy());
        };
        if (kind == Kind::Vod)
            return std::make_shared<VodTracker>(1, capture, nullptr, false, bus);
        auto strategy = std::make_shared<VodTracker2>(1, capture, nullptr, false, bus);
        // The detector's classes, as the feed would list them.
        strategy->mergeClasses({{kPerson, {kPerson, "human", 35, false, true}},
                                {kVehicle, {kVehicle, "vehicle", 50, false, true}}});
        return strategy;
    }

    // Feeds `make(t)` every `stepUs` from `from` to `to` (inclusive).
    void feed(GenericTracker& strategy, std::int64_t from, std::int64_t to, std::int64_t stepUs,
              const std::function<std::shared_ptr<Message>(std::int64_t)>& make)
    {
        for (std::int64_t t = from; t <= to; t += stepUs)
            strategy.handleMessage(make(t));
    }

    const TrackerScene& last() const { return reports.back(); }

    testsupport::TempDir root{"strategies"};
    Channel bus;
    std::vector<TrackerScene> reports;
};

// The report lists every stored object: the tracked one with flags 3 and
// as the scene's tracked id, the others with flags 1; excluded objects are
// held below their threshold so that the Tracker does not select them.
TEST_F(VodStrategies, ReportMarksTheTrackedObjectAndHoldsExclusions)
{
    for (Kind kind : {Kind::Vod, Kind::Vod2}) {
        reports.clear();
        auto strategy = make(kind);
        auto three = [](std::int64_t t) { return frame(t, {{1}, {2}, {3, kVehicle}}); };
        strategy->handleMessage(three(kSecond));
        ASSERT_TRUE(strategy->setTrackingObject(3, false)) << name(kind);
        strategy->unsetTrackingObject(true);
        ASSERT_TRUE(strategy->setTrackingObject(2, false)) << name(kind);
        strategy->handleMessage(three(kSecond + 100000));

        ASSERT_EQ(reports.size(), 2u) << name(kind);
        const TrackerScene& report = last();
        EXPECT_EQ(report.sceneTimeUs, kSecond + 100000) << name(kind);
        EXPECT_EQ(report.trackedId, 2) << name(kind);
        ASSERT_EQ(report.objects.size(), 3u) << name(kind);
        EXPECT_EQ(report.findObject(1)->flags, 1) << name(kind);
        EXPECT_EQ(report.findObject(2)->flags, 3) << name(kind);
        EXPECT_EQ(report.findObject(3)->flags, 1) << name(kind);
        EXPECT_EQ(report.excludedIds, (std::set<std::int32_t>{3})) << name(kind);
        EXPECT_FALSE(report.findObject(3)->isConfident()) << name(kind);
        EXPECT_TRUE(report.findObject(1)->isConfident()) << name(kind);
        EXPECT_EQ(report.visibleIds, (std::set<std::int32_t>{1, 2, 3})) << name(kind);
        // The stored scene is not touched by the report's marks.
        EXPECT_TRUE(strategy->storedScene().findObject(3)->isConfident()) << name(kind);
    }
}

TEST_F(VodStrategies, ReportLabelsNameTheClassAndAges)
{
    auto strategy = make(Kind::Vod2);
    feed(*strategy, kSecond, 2 * kSecond, 500000, [](std::int64_t t) {
        return frame(t, {{7, kVehicle, 80}, {12, 99, 80}});
    });
    EXPECT_EQ(last().findObject(7)->typeName, "   7(vehicle),c:2:80/40,t:1.0/1.0");
    // A class the strategy does not know has no name.
    EXPECT_EQ(last().findObject(12)->typeName, "  12(),c:2:80/40,t:1.0/1.0");
}

// setTrackingObject takes only stored objects, and an excluded one only
// when forced (the Tracker forces it for a start without a return preset).
TEST_F(VodStrategies, ExcludedObjectsAreTakenOnlyWhenForced)
{
    for (Kind kind : {Kind::Vod, Kind::Vod2}) {
        auto strategy = make(kind);
        strategy->handleMessage(frame(kSecond, {{1}, {2}}));
        EXPECT_TRUE(strategy->hasObject(1)) << name(kind);
        EXPECT_FALSE(strategy->hasObject(9)) << name(kind);
        EXPECT_FALSE(strategy->setTrackingObject(9, true)) << name(kind);
        ASSERT_TRUE(strategy->setTrackingObject(1, false)) << name(kind);
        strategy->unsetTrackingObject(true);
        EXPECT_EQ(strategy->trackedId(), -1) << name(kind);

        LogCapture log;
        EXPECT_FALSE(strategy->setTrackingObject(1, false)) << name(kind);
        EXPECT_EQ(strategy->trackedId(), -1) << name(kind);
        EXPECT_TRUE(strategy->setTrackingObject(1, true)) << name(kind);
        EXPECT_EQ(strategy->trackedId(), 1) << name(kind);
        EXPECT_EQ(strategy->storedScene().trackedId, 1) << name(kind);
        strategy->unsetTrackingObject(false);
        const std::string text = log.text();
        EXPECT_EQ(count(text, "VOD: Object with ID: 1 set to tracking. (-1,0)\n"), 1u) << text;
        EXPECT_EQ(count(text, "VOD: Object with ID: 1 set to tracking. (-1,1)\n"), 1u) << text;
        EXPECT_EQ(count(text, "Stopping tracking object with ID: 1 (excl:0)\n"), 1u) << text;
        EXPECT_EQ(strategy->storedScene().trackedId, -1) << name(kind);
    }
}

// The feed moves the tracked track to another id: VodTracker2 follows it,
// VodTracker stops (the Tracker then selects again). A deleted track is
// dropped by both.
TEST_F(VodStrategies, IdChangeIsFollowedOnlyByVodTracker2)
{
    struct Case {
        Kind kind;
        std::vector<VodEvent> events;
        std::vector<Detection> detected;
        int trackedAfter;
        std::string line;
    };
    const std::vector<Case> cases = {
        {Kind::Vod2, {connect(4, {9})}, {{9}}, 9, "Tracked object has been changed 4 => 9\n"},
        {Kind::Vod, {connect(4, {9})}, {{9}}, -1, "Stopping tracking object with ID: 4 (excl:0)\n"},
        {Kind::Vod2, {remove(4)}, {{5}}, -1, "Tracked object has been dropped 4\n"},
        {Kind::Vod, {remove(4)}, {{5}}, -1, "Stopping tracking object with ID: 4 (excl:0)\n"},
    };
    for (const Case& c : cases) {
        reports.clear();
        auto strategy = make(c.kind);
        strategy->handleMessage(frame(kSecond, {{4}, {5}}));
        ASSERT_TRUE(strategy->setTrackingObject(4, false));
        LogCapture log;
        strategy->handleMessage(frame(kSecond + 100000, c.detected, c.events));
        const std::string text = log.text();
        EXPECT_EQ(count(text, c.line), 1u) << name(c.kind) << text;
        EXPECT_EQ(strategy->trackedId(), c.trackedAfter) << name(c.kind) << text;
        EXPECT_EQ(last().trackedId, c.trackedAfter) << name(c.kind);
        if (c.trackedAfter >= 0) {
            EXPECT_EQ(last().findObject(c.trackedAfter)->flags, 3) << name(c.kind);
        }
    }
}

// A followed id change to an id the Tracker excluded leaves nothing tracked.
TEST_F(VodStrategies, IdChangeToAnExcludedIdStopsTracking)
{
    auto strategy = make(Kind::Vod2);
    strategy->handleMessage(frame(kSecond, {{4}, {9}}));
    ASSERT_TRUE(strategy->setTrackingObject(9, false));
    strategy->unsetTrackingObject(true);
    ASSERT_TRUE(strategy->setTrackingObject(4, false));
    strategy->handleMessage(frame(kSecond + 100000, {{9}}, {connect(4, {9})}));
    EXPECT_EQ(strategy->trackedId(), -1);
    EXPECT_EQ(last().trackedId, -1);
}

// A confident tracked object that is not a person and has not moved for
// 20 s is dropped (a parked car); a person standing as long stays.
TEST_F(VodStrategies, StationaryRuleDropsParkedCarsNotPeople)
{
    struct Case {
        int classId;
        std::int64_t stillUs;
        bool kept;
    };
    const std::vector<Case> cases = {
        {kVehicle, 19900000, true},
        {kVehicle, 20000000, false},
        {kPerson, 30000000, true},
    };
    for (const Case& c : cases) {
        reports.clear();
        auto strategy = make(Kind::Vod2);
        const std::int64_t start = kSecond;
        auto parked = [&](std::int64_t t) { return frame(t, {{1, c.classId}}); };
        strategy->handleMessage(parked(start));
        ASSERT_TRUE(strategy->setTrackingObject(1, false));
        LogCapture log;
        feed(*strategy, start + 100000, start + c.stillUs, 100000, parked);
        const std::string text = log.text();
        const std::string what = std::to_string(c.classId) + " " + std::to_string(c.stillUs);
        EXPECT_EQ(strategy->trackedId(), c.kept ? 1 : -1) << what;
        EXPECT_EQ(last().trackedId, c.kept ? 1 : -1) << what;
        EXPECT_EQ(last().findObject(1) != nullptr, c.kept) << what;
        if (c.kept) {
            EXPECT_EQ(count(text, "stop tracking"), 0u) << what << text;
            continue;
        }
        const std::string label = "   1(vehicle),c:2:80/40,t:20.0/20.0";
        EXPECT_EQ(count(text, "VOD " + label +
                                  " tracked object not human, stationary for 20.00s (stop "
                                  "tracking)\n"),
                  1u)
            << text;
        EXPECT_EQ(count(text, "VOD 1 (" + label +
                                  ") tracked object h:0 m:0 stationary 20.0s, stop tracking\n"),
                  1u)
            << text;
        // Not excluded: it is back in the next report, untracked.
        strategy->handleMessage(parked(start + c.stillUs + 100000));
        ASSERT_TRUE(last().findObject(1));
        EXPECT_EQ(last().findObject(1)->flags, 1);
        EXPECT_TRUE(last().excludedIds.empty());
    }
}

// A tracked object unconfident for 7 s (since its last confident frame) is
// dropped; until then it stays tracked and is logged every tenth update.
TEST_F(VodStrategies, UnconfidentRuleDropsAfterSevenSeconds)
{
    struct Case {
        std::int64_t unconfidentUs;
        bool kept;
    };
    for (const Case& c : std::vector<Case>{{6900000, true}, {7000000, false}}) {
        reports.clear();
        auto strategy = make(Kind::Vod2);
        const std::int64_t confidentUntil = 2 * kSecond;
        feed(*strategy, kSecond, confidentUntil, 100000, [](std::int64_t t) {
            return frame(t, {{1, kPerson, 80}});
        });
        ASSERT_TRUE(strategy->setTrackingObject(1, false));
        LogCapture log;
        feed(*strategy, confidentUntil + 100000, confidentUntil + c.unconfidentUs, 100000,
             [](std::int64_t t) {
                 return frame(t, {{1, kPerson, 10}});
             });
        const std::string text = log.text();
        const std::string what = std::to_string(c.unconfidentUs);
        EXPECT_EQ(strategy->trackedId(), c.kept ? 1 : -1) << what;
        EXPECT_EQ(last().trackedId, c.kept ? 1 : -1) << what;
        EXPECT_EQ(last().findObject(1) != nullptr, c.kept) << what;
        // 69 or 70 unconfident updates: lines at the 10th ... 60th.
        EXPECT_EQ(count(text, "tracked object not confident for"), c.kept ? 6u : 7u) << text;
        EXPECT_EQ(count(text, "VOD    1(human),c:2:10/40,t:2.0/1.0 tracked object not confident "
                              "for 1.0s visible:1\n"),
                  1u)
            << text;
        EXPECT_EQ(count(text, ") tracked object not confident for 7.0s, stop tracking\n"),
                  c.kept ? 0u : 1u)
            << text;
    }
}

// The count of unconfident updates restarts with a confident one.
TEST_F(VodStrategies, ConfidentUpdateRestartsTheUnconfidentCount)
{
    auto strategy = make(Kind::Vod2);
    strategy->handleMessage(frame(kSecond, {{1, kPerson, 80}}));
    ASSERT_TRUE(strategy->setTrackingObject(1, false));
    LogCapture log;
    std::int64_t t = kSecond;
    for (int round = 0; round < 3; round++) {
        for (int i = 0; i < 9; i++)
            strategy->handleMessage(frame(t += 100000, {{1, kPerson, 10}}));
        strategy->handleMessage(frame(t += 100000, {{1, kPerson, 80}}));
    }
    const std::string text = log.text();
    EXPECT_EQ(count(text, "tracked object not confident"), 0u) << text;
    EXPECT_EQ(strategy->trackedId(), 1);
}

// Types 1 and 5 are the detection strategies, started (here without a
// feed: the client keeps retrying until it is stopped); others are not
// built here.
TEST_F(VodStrategies, FactoryBuildsTypesOneAndFive)
{
    for (int type : {0, 1, 2, 3, 4, 5, 6}) {
        LogCapture log;
        auto strategy = makeDetectionStrategy(type, 1, {}, nullptr, false);
        if (strategy)
            strategy->prepareToShutdown();
        const std::string text = log.text();
        EXPECT_EQ(std::dynamic_pointer_cast<VodTracker>(strategy) != nullptr, type == 1) << type;
        EXPECT_EQ(std::dynamic_pointer_cast<VodTracker2>(strategy) != nullptr, type == 5) << type;
        if (type == 5) {
            EXPECT_EQ(count(text, "VodTracker2 created (0 known VOD object types)\n"), 1u) << text;
        }
        EXPECT_EQ(count(text, "VodClient started.\n"), type == 1 || type == 5 ? 1u : 0u) << text;
    }
}

// The detector's classes meet the class settings: same id and name merge,
// taking the settings' flags and threshold (the detector's when negative).
TEST(VodClassMerge, MergesMatchingClassesAndLogsTheRest)
{
    const VodClassMap model = {
        {0, {0, "human", 35, false, true}},
        {1, {1, "vehicle", 50, false, true}},
        {2, {2, "bike", 20, false, true}},
        {9, {9, "drone", 10, false, true}},
    };
    const std::vector<VodObjectType> settings = {
        {0, "human", -1, true, true},
        {1, "vehicle", 60, false, false},
        {2, "motorcycle_bicycle", -1, false, true},
    };
    LogCapture log;
    const VodClassMap merged = mergeVodClasses(model, settings);
    const std::string text = log.text();
    EXPECT_EQ(merged, (VodClassMap{{0, {0, "human", 35, true, true}},
                                   {1, {1, "vehicle", 60, false, false}}}));
    for (const char* line : {
             "VOD types model: 4\n",
             "VOD types settings: 3\n",
             "Merged VOD: id:0: name:human, threshold:35 human:true enabled:true\n",
             "Merged VOD: id:1: name:vehicle, threshold:60 human:false enabled:false\n",
             "VOD class name unexpected 2:bike != 2:motorcycle_bicycle\n",
             "VOD class 9:drone not found in settings\n",
             "VOD classes in settings: 3 result 2\n",
             "VOD classes in model: 4 result 2\n",
         })
        EXPECT_EQ(count(text, line), 1u) << line << text;
}

} // namespace
} // namespace quillon
