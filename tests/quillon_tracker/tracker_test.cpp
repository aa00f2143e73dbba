// The Tracker on the process bus with a scripted strategy, steering camsim's
// camera through the real PTZ link: transitions, the zoom-out wait, preset
// return, settings, the silent-feed stop.
#include <glib.h>

#include <cmath>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "link_fixture.h"
#include "quillon/config/settings/runtime_commands.h"
#include "quillon/config/settings/settings_types.h"
#include "quillon/core/channel.h"
#include "quillon/tracking/strategies/generic_tracker.h"
#include "quillon/tracking/tracker/tracker.h"

using namespace quillon;
using nlohmann::json;
using testsupport::waitFor;

namespace
{

// Runs a function on the bus thread.
class RunOnBus : public Message
{
public:
    explicit RunOnBus(std::function<void()> f) : run(std::move(f)) {}
    std::function<void()> run;
};

// Holds a scene the test edits; hands a copy to the Tracker per scene.
class ScriptedStrategy : public GenericTracker
{
public:
    explicit ScriptedStrategy(Tracker* tracker)
        : GenericTracker(
              1,
              [](TrackerScene& scene, Tracker* t) {
                  if (t)
                      t->onScene(scene);
              },
              tracker)
    {
    }

    void handleMessage(const std::shared_ptr<Message>&) override {}
    void prepareToShutdown() override {}
    bool hasObject(int id) override { return stored.findObject(id) != nullptr; }
    bool setTrackingObject(int id, bool force) override
    {
        if (!hasObject(id) || (stored.excludedIds.count(id) != 0 && !force))
            return false;
        stored.setTracked(id);
        return true;
    }
    void unsetTrackingObject(bool exclude) override
    {
        if (exclude && stored.trackedId >= 0)
            stored.exclude(stored.trackedId);
        stored.setTracked(-1);
    }

    // One scene at the monotonic clock now (the data cache has it).
    void emit()
    {
        stored.setSceneTime(g_get_monotonic_time());
        TrackerScene scene = stored.deepCopy();
        report(scene);
    }
    void emitAt(std::int64_t sceneTimeUs)
    {
        stored.setSceneTime(sceneTimeUs);
        TrackerScene scene = stored.deepCopy();
        report(scene);
    }

    TrackerScene stored;
};

std::shared_ptr<TrackingObject> person(int id, float u, float v)
{
    auto object = std::make_shared<TrackingObject>();
    object->id = id;
    object->source = kSourceDetection;
    object->human = true;
    object->objectType = 1;
    object->shape = Polygon();
    object->shape.addPoint({u - 0.05f, v - 0.15f});
    object->shape.addPoint({u - 0.05f, v + 0.15f});
    object->shape.addPoint({u + 0.05f, v + 0.15f});
    object->shape.addPoint({u + 0.05f, v - 0.15f});
    object->confidenceThreshold = 40;
    object->setTime(g_get_monotonic_time());
    object->setConfidence(80);
    return object;
}

class TrackerTest : public motiontest::LinkFixture
{
protected:
    std::vector<std::string> camsimArgs() const override
    {
        return {"--feeds-scenario", std::string(SCENARIO_DIR) + "/person-walking.json"};
    }

    void SetUp() override
    {
        LinkFixture::SetUp();
        // One enabled trigger zone over the whole view, with preset 1.
        cam->dir().write("root/etc/quillon/profiles.conf",
                         R"({"profiles": [{"pt_polygon": [-90.0, -60.0, 90.0, -60.0, 90.0, 30.0,
                            -90.0, 30.0], "id": 1, "name": "All", "enabled": true, "preset": 1,
                            "zoneType": 0}]})");
        runner = std::make_shared<RunOnBusReceiver>();
        Channel::instance().subscribe(runner);
        std::atomic<bool> seen{false};
        ASSERT_TRUE(waitFor([&] {
            Channel::instance().post(std::make_unique<RunOnBus>([&seen] { seen = true; }));
            return seen.load();
        }));
        onBus([this] {
            tracker = std::make_shared<Tracker>(false);
            strategy = std::make_shared<ScriptedStrategy>(tracker.get());
            tracker->useStrategy(strategy, kSourceDetection);
        });
        Channel::instance().subscribe(tracker);
        // Scenes until the driver handshake is done.
        ASSERT_TRUE(waitFor([&] {
            bool done = false;
            onBus([&] {
                strategy->emit();
                done = tracker->driverCheck().done();
            });
            return done;
        })) << "driver check never finished";
        onBus([&] { strategy->emit(); });
    }

    void TearDown() override
    {
        onBus([this] {
            if (!tracker)
                return;
            tracker->prepareToShutdown();
            Channel::instance().unsubscribe(tracker);
            tracker.reset();
            strategy.reset();
        });
        Channel::instance().unsubscribe(runner);
        LinkFixture::TearDown();
    }

    // Runs `f` on the bus thread and waits for it.
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

    template <typename T> void post(const T& value) { Channel::instance().postSettings(value); }

    int state()
    {
        int s = -1;
        onBus([&] { s = tracker->state(); });
        return s;
    }

    json pose() { return cam->control({{"cmd", "pose"}}); }
    double zoomSpeed() { return cam->control({{"cmd", "pose"}})["zoom_rate"].get<double>(); }

    struct RunOnBusReceiver : MessageReceiver {
        void handleMessage(const std::shared_ptr<Message>& message) override
        {
            if (auto run = std::dynamic_pointer_cast<RunOnBus>(message))
                run->run();
        }
        void prepareToShutdown() override {}
    };

    std::shared_ptr<RunOnBusReceiver> runner;
    std::shared_ptr<Tracker> tracker;
    std::shared_ptr<ScriptedStrategy> strategy;
};

} // namespace

// A target taken by id with a return preset armed: followed with moves,
// lost (zoom-out at -5), the wait of timeoutToHome seconds of scene time at
// 0.2 s updates, then the zero move and the preset.
TEST_F(TrackerTest, FollowsLosesZoomsOutWaitsAndReturnsToPreset)
{
    TrackingParams params;
    params.returnToPreset = 1;
    params.timeoutToHome = 5.0f;
    post(params);
    // Zoomed in, so that the zoom-out on loss shows.
    cam->control({{"cmd", "set-pose"}, {"pan", 0.0}, {"tilt", -10.0}, {"zoom", 4.0}});
    onBus([&] {
        strategy->stored.addObject(person(7, 0.5f, 0.2f), true);
        strategy->emit();
    });
    Channel::instance().post(std::make_unique<SetTrackingObjMessage>(7));
    ASSERT_TRUE(waitFor([&] { return state() == Tracker::kTracking; }));
    // Scene times 0.2 s apart, each emitted once the data cache has it.
    std::int64_t t = g_get_monotonic_time();
    auto next = [&] {
        t += 200000;
        while (g_get_monotonic_time() < t + 20000)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    // The object sits right of centre: the camera pans right.
    for (int i = 0; i < 5; ++i) {
        next();
        onBus([&] { strategy->emitAt(t); });
    }
    EXPECT_GT(cam->control({{"cmd", "pose"}})["pan_speed"].get<double>(), 0.0);

    // Lost: the strategy no longer reports it.
    next();
    onBus([&] {
        strategy->stored.setTracked(-1);
        strategy->stored.removeObject(7);
        strategy->emitAt(t);
    });
    EXPECT_EQ(state(), Tracker::kLost);
    EXPECT_LT(zoomSpeed(), 0.0);

    // The wait counts from the last followed scene: the loss came 0.2 s
    // after it, the 25th update after the loss is 5.2 s after it.
    int updates = 0;
    while (state() == Tracker::kLost && updates < 40) {
        ++updates;
        next();
        onBus([&] { strategy->emitAt(t); });
    }
    EXPECT_EQ(updates, 25);
    EXPECT_EQ(state(), Tracker::kIdle);
    EXPECT_TRUE(waitFor([&] {
        auto presets = cam->control({{"cmd", "presets"}});
        return presets["status"]["preset"] == 1;
    })) << "no return to preset 1";
}

// Settings while tracking: autotracking off stops (zero move) without a
// preset; a second trackerType only logs; pan gains are kept in the
// alternate space.
TEST_F(TrackerTest, SettingsMessages)
{
    onBus([&] {
        strategy->stored.addObject(person(3, -0.4f, 0.0f), true);
        strategy->emit();
    });
    Channel::instance().post(std::make_unique<SetTrackingObjMessage>(3));
    ASSERT_TRUE(waitFor([&] { return state() == Tracker::kTracking; }));

    testing::internal::CaptureStderr();
    TrackingParams params;
    params.trackerType = 1;
    post(params);
    pan_pid_t gains;
    gains.kp = 1.0;
    post(gains);
    post(auto_tracking_state_t{false});
    ASSERT_TRUE(waitFor([&] { return state() == Tracker::kIdle; }));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("TrackerType changed to 1. Will be applied at next start\n"),
              std::string::npos);
    EXPECT_NE(log.find("Stop tracking exclude:0 stop:1 id:3\n"), std::string::npos);
    bool alternate = false;
    float kp = 0;
    onBus([&] {
        alternate = tracker->law().gainSet() == GainSet::Alternate;
        kp = tracker->law().pan().gains().kp;
    });
    ASSERT_TRUE(alternate) << "camsim offers the alternate space";
    EXPECT_FLOAT_EQ(kp, 0.34f);
    // A missing id is refused with a warning.
    testing::internal::CaptureStderr();
    Channel::instance().post(std::make_unique<SetTrackingObjMessage>(99));
    onBus([] {});
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "Object with ID: 99 not found. Unable to set.\n"),
              std::string::npos);
}

// A feed that goes silent while the camera follows: within about a second
// and a half the camera stops and the target is given up.
TEST_F(TrackerTest, SilentFeedStopsTheCamera)
{
    onBus([&] {
        strategy->stored.addObject(person(5, 0.6f, 0.0f), true);
        strategy->emit();
    });
    Channel::instance().post(std::make_unique<SetTrackingObjMessage>(5));
    ASSERT_TRUE(waitFor([&] { return state() == Tracker::kTracking; }));
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        onBus([&] { strategy->emit(); });
    }
    ASSERT_GT(cam->control({{"cmd", "pose"}})["pan_speed"].get<double>(), 0.0);
    EXPECT_TRUE(waitFor([&] { return state() == Tracker::kLost; }));
    EXPECT_TRUE(waitFor([&] {
        auto pose = cam->control({{"cmd", "pose"}});
        return pose["pan_speed"].get<double>() == 0.0 && pose["zoom_rate"].get<double>() == 0.0;
    })) << "camera still moving";
}

// Selection from the zone's candidates, held off while the camera reports
// motion and for two scenes after; the start statistics at destruction.
TEST_F(TrackerTest, SelectionWaitsForTheCameraToStopAndCountsStarts)
{
    // A person that has been walking for 1 s, in the zone.
    auto walker = person(4, 0.1f, -0.1f);
    const std::int64_t t0 = g_get_monotonic_time();
    walker->setTime(t0 - 1000000);
    walker->setMoving(true);
    walker->setTime(t0);
    cam->control({{"cmd", "move"}, {"pan", 20.0}});
    ASSERT_TRUE(waitFor([&] { return (pose()["status"].get<int>() & 0x13) != 0; }));
    onBus([&] {
        strategy->stored.addObject(walker, true);
        strategy->emit();
    });
    EXPECT_EQ(state(), Tracker::kIdle) << "selected while the camera moves";
    cam->control({{"cmd", "stop"}});
    ASSERT_TRUE(waitFor([&] { return (pose()["status"].get<int>() & 0x13) == 0; }));
    // Two scenes of hold-over after the bits clear, then the selection.
    std::vector<int> states;
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        onBus([&] {
            strategy->emit();
            states.push_back(tracker->state());
        });
    }
    EXPECT_EQ(states, (std::vector<int>{0, 0, 1}));

    testing::internal::CaptureStderr();
    onBus([&] {
        tracker->prepareToShutdown();
        Channel::instance().unsubscribe(tracker);
        tracker.reset();
    });
    onBus([] {}); // the bus lets go of the Tracker after the message
    const std::string log = testing::internal::GetCapturedStderr();
    const auto perType = log.find("]:   Tracked object of type 1 : 1 times\n");
    EXPECT_NE(perType, std::string::npos) << log;
    const auto total = log.find("]: Started tracking objects 1 times\n");
    EXPECT_NE(total, std::string::npos) << log;
    EXPECT_GT(total, perType);
}
