// FusionTracker3: scenes taken over with the tracked id and exclusions, the
// 7-s memory of a stop, steps on the bus thread and the rotation handed to
// the client.
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include "quillon/config/settings/runtime_commands.h"
#include "quillon/core/channel.h"
#include "quillon/inputs/fusion/fusion_client.h"
#include "quillon/tracking/strategies/fusion_tracker3.h"
#include "scene_builders.h"

namespace scenetest
{
namespace
{

TrackerScene analytics(std::int64_t t, const std::vector<int>& ids)
{
    TrackerScene s(t);
    for (int id : ids) {
        auto o = std::make_shared<TrackingObject>();
        o->id = id;
        o->source = kSourceFused;
        o->confidenceThreshold = 300;
        o->setConfidence(900);
        o->shape = Polygon::box(-0.1f, 0.1f, -0.1f, 0.1f);
        o->setTime(t);
        o->setMoving(true);
        s.addObject(o, true);
    }
    return s;
}

TEST(FusionTracker3, KeepsTrackedIdAndExclusionsAcrossScenes)
{
    Reports reports;
    FusionTracker3 t(1, reports.callback(), nullptr, noFeeds());
    t.step(analytics(kSecond, {3, 4}));
    ASSERT_TRUE(t.setTrackingObject(3, false));
    t.step(analytics(2 * kSecond, {3, 4}));
    EXPECT_EQ(reports.last().trackedId, 3);

    t.unsetTrackingObject(true);
    t.step(analytics(3 * kSecond, {3, 4}));
    EXPECT_EQ(reports.last().trackedId, -1);
    EXPECT_FALSE(reports.last().findObject(3)->isConfident());
    EXPECT_TRUE(reports.last().findObject(4)->isConfident());
    EXPECT_FALSE(t.setTrackingObject(3, false));
    EXPECT_TRUE(t.setTrackingObject(4, false));
}

TEST(FusionTracker3, ObjectsAgeAcrossScenes)
{
    Reports reports;
    FusionTracker3 t(1, reports.callback(), nullptr, noFeeds());
    for (int i = 0; i <= 20; i++)
        t.step(analytics(kSecond + i * 100000,
                         i < 20 ? std::vector<int>{3, 4} : std::vector<int>{3, 5}));
    const TrackerScene& s = reports.last();
    // Seen for 2 s: old enough to start tracking (1.5 s for others than
    // persons); a new id starts from zero.
    EXPECT_FLOAT_EQ(s.findObject(3)->moveTime(), 2.0f);
    EXPECT_EQ(s.findObject(3)->firstSeenUs, kSecond);
    EXPECT_TRUE(s.findObject(3)->shouldTrigger());
    EXPECT_FLOAT_EQ(s.findObject(5)->moveTime(), 0.0f);
    EXPECT_FALSE(s.findObject(5)->shouldTrigger());
}

TEST(FusionTracker3, StoppedIdIsKeptForSevenSeconds)
{
    struct Case {
        std::int64_t afterUs;
        int stoppedId;
    } cases[] = {{0, 3}, {6900000, 3}, {6999999, 3}, {7000000, -1}, {9000000, -1}};
    for (const Case& c : cases) {
        Reports reports;
        FusionTracker3 t(1, reports.callback(), nullptr, noFeeds());
        t.step(analytics(kSecond, {3}));
        ASSERT_TRUE(t.setTrackingObject(3, false));
        t.unsetTrackingObject(false);
        const std::int64_t stoppedAt = t.scene().stoppedAtUs;
        ASSERT_GT(stoppedAt, 0);
        t.step(analytics(stoppedAt + c.afterUs, {3}));
        EXPECT_EQ(reports.last().lastStoppedId, c.stoppedId) << c.afterUs;
        // Once dropped it does not come back.
        t.step(analytics(stoppedAt + 100000, {3}));
        EXPECT_EQ(reports.last().lastStoppedId, c.stoppedId) << c.afterUs;
    }
}

TEST(FusionTracker3, ScenesArePostedAndStepOnTheBusThread)
{
    Channel bus;
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::int64_t> times;
    std::thread::id reportThread;
    auto t = std::make_shared<FusionTracker3>(
        1,
        [&](TrackerScene& s, Tracker*) {
            std::lock_guard<std::mutex> g(m);
            times.push_back(s.sceneTimeUs);
            reportThread = std::this_thread::get_id();
            cv.notify_all();
        },
        nullptr, noFeeds());
    bus.subscribe(t);
    int other = 0;
    bus.post(std::make_unique<FusionSceneMessage>(analytics(1, {1}), &other));
    bus.post(std::make_unique<FusionSceneMessage>(analytics(2, {1}), t.get()));
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return !times.empty(); }));
        EXPECT_EQ(times, std::vector<std::int64_t>{2});
        EXPECT_NE(reportThread, std::this_thread::get_id());
    }
    bus.stop();
}

TEST(FusionTracker3, RotationReachesTheClient)
{
    Reports reports;
    FusionTracker3 t(1, reports.callback(), nullptr, noFeeds());
    t.handleMessage(std::make_shared<TrackerSettingsMessage<viewport_configuration_t>>(
        viewport_configuration_t{180, 1920, 1080}));
    EXPECT_EQ(t.client().rotation(), 180);
    t.handleMessage(std::make_shared<TrackerSettingsMessage<viewport_configuration_t>>(
        viewport_configuration_t{0, 0, 0}));
    EXPECT_EQ(t.client().rotation(), 0);
}

} // namespace
} // namespace scenetest
