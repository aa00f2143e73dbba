// The Tracker driven by the scene-engine and analytics strategies on
// camsim's feeds, steering camsim's camera: a target is followed, and a
// stalled feed stops the camera.
#include <chrono>
#include <cstdio>
#include <future>

#include <gtest/gtest.h>

#include "link_fixture.h"
#include "quillon/config/settings/runtime_commands.h"
#include "quillon/core/channel.h"
#include "quillon/tracking/strategies/fusion_tracker.h"
#include "quillon/tracking/strategies/fusion_tracker3.h"
#include "quillon/tracking/strategies/kine_tracker.h"
#include "quillon/tracking/strategies/strategy_factory.h"
#include "quillon/tracking/tracker/tracker.h"

namespace
{

using namespace quillon;
using testsupport::waitFor;

class RunOnBus : public Message
{
public:
    explicit RunOnBus(std::function<void()> f) : run(std::move(f)) {}
    std::function<void()> run;
};

struct RunOnBusReceiver : MessageReceiver {
    void handleMessage(const std::shared_ptr<Message>& message) override
    {
        if (auto r = std::dynamic_pointer_cast<RunOnBus>(message))
            r->run();
    }
    void prepareToShutdown() override {}
};

struct FeedCase {
    int trackerType;
    const char* feed; // camsim's name of the feed the strategy follows
};

class SceneTracking : public motiontest::LinkFixture, public ::testing::WithParamInterface<FeedCase>
{
protected:
    std::vector<std::string> camsimArgs() const override
    {
        return {"--feeds-scenario", std::string(SCENARIO_DIR) + "/person-walking.json"};
    }

    void SetUp() override
    {
        LinkFixture::SetUp();
        runner = std::make_shared<RunOnBusReceiver>();
        Channel::instance().subscribe(runner);
        onBus([this] {
            tracker = std::make_shared<Tracker>(false);
            const int type = GetParam().trackerType;
            tracker->useStrategy(makeSceneStrategy(
                                     type, 1,
                                     [](TrackerScene& scene, Tracker* t) {
                                         if (t)
                                             t->onScene(scene);
                                     },
                                     tracker.get(), false),
                                 strategySource(type));
        });
        Channel::instance().subscribe(tracker);
    }

    void TearDown() override
    {
        onBus([this] {
            tracker->prepareToShutdown();
            Channel::instance().unsubscribe(tracker);
            tracker.reset();
        });
        Channel::instance().unsubscribe(runner);
        LinkFixture::TearDown();
    }

    void onBus(std::function<void()> f)
    {
        auto done = std::make_shared<std::promise<void>>();
        auto future = done->get_future();
        Channel::instance().post(std::make_unique<RunOnBus>([f, done] {
            f();
            done->set_value();
        }));
        ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    }

    // A confident object of the strategy's scene, or -1.
    int confidentObject()
    {
        int id = -1;
        onBus([&] {
            const TrackerScene* scene = nullptr;
            if (auto k = std::dynamic_pointer_cast<KineTracker>(tracker->strategy()))
                scene = &k->scene();
            if (auto f = std::dynamic_pointer_cast<FusionTracker3>(tracker->strategy()))
                scene = &f->scene();
            if (auto f = std::dynamic_pointer_cast<FusionTracker>(tracker->strategy()))
                scene = &f->fusedScene();
            if (scene == nullptr || !tracker->driverCheck().done())
                return;
            for (const auto& o : scene->objects)
                if (o->isConfident() && scene->isVisible(o->id) &&
                    (o->source == kSourceFused) == (GetParam().trackerType != 0))
                    id = o->id;
        });
        return id;
    }

    // Scene time of the strategy's latest report (µs).
    std::int64_t sceneTime()
    {
        std::int64_t t = 0;
        onBus([&] {
            if (auto f = std::dynamic_pointer_cast<FusionTracker>(tracker->strategy()))
                t = f->fusedScene().sceneTimeUs;
        });
        return t;
    }

    void followWalker()
    {
        int id = -1;
        ASSERT_TRUE(
            waitFor([&] { return (id = confidentObject()) >= 0; }, std::chrono::seconds(30)))
            << "no confident object from the feed";
        Channel::instance().post(std::make_unique<SetTrackingObjMessage>(id));
        ASSERT_TRUE(
            waitFor([&] { return state() == Tracker::kTracking; }, std::chrono::seconds(20)));
        ASSERT_TRUE(waitFor(
            [&] {
                return cam->control({{"cmd", "pose"}})["pan_speed"] != 0.0;
            },
            std::chrono::seconds(20)))
            << "the camera does not follow";
    }

    int state()
    {
        int s = -1;
        onBus([&] { s = tracker->state(); });
        return s;
    }

    std::shared_ptr<RunOnBusReceiver> runner;
    std::shared_ptr<Tracker> tracker;
};

TEST_P(SceneTracking, FollowsTheWalkerAndStopsWhenTheFeedStalls)
{
    followWalker();

    const auto stalled = std::chrono::steady_clock::now();
    cam->control({{"cmd", "feeds-fault"}, {"mode", "stall"}, {"feed", GetParam().feed}});
    EXPECT_TRUE(waitFor([&] { return state() != Tracker::kTracking; }, std::chrono::seconds(20)));
    EXPECT_TRUE(waitFor(
        [&] {
            auto pose = cam->control({{"cmd", "pose"}});
            return pose["pan_speed"].get<double>() == 0.0 && pose["zoom_rate"].get<double>() == 0.0;
        },
        std::chrono::seconds(20)))
        << "camera still moving";
    std::printf("type %d, %s feed stalled: camera stopped after %.2f s\n", GetParam().trackerType,
                GetParam().feed,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - stalled).count());
}

INSTANTIATE_TEST_SUITE_P(Feeds, SceneTracking,
                         ::testing::Values(FeedCase{0, "scene"}, FeedCase{4, "analytics"}),
                         [](const ::testing::TestParamInfo<FeedCase>& p) {
                             return "type" + std::to_string(p.param.trackerType);
                         });

} // namespace

namespace
{

class FusedTracking : public SceneTracking
{
};

// Without detections the fused strategy still reports the scene engine's
// object under the tracked id: the camera keeps following.
TEST_P(FusedTracking, KeepsFollowingWhenTheDetectionFeedStalls)
{
    followWalker();
    cam->control({{"cmd", "feeds-fault"}, {"mode", "stall"}, {"feed", "detection"}});
    const std::int64_t from = sceneTime();
    ASSERT_TRUE(waitFor([&] { return sceneTime() >= from + 3000000; }, std::chrono::seconds(30)));
    EXPECT_EQ(state(), Tracker::kTracking);
    EXPECT_NE(cam->control({{"cmd", "pose"}})["pan_speed"], 0.0);
}

INSTANTIATE_TEST_SUITE_P(Feeds, FusedTracking, ::testing::Values(FeedCase{2, "detection"}),
                         [](const ::testing::TestParamInfo<FeedCase>& p) {
                             return "type" + std::to_string(p.param.trackerType);
                         });

} // namespace
