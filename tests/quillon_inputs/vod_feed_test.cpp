// The detection store fed by camsim through the real libdetfeed, on a
// private bus, with camera positions read from the PTZ data cache through
// libptzlink: what the store holds for the shipped scenarios, and how it
// rides out feed faults, camsim restarts and racing stops.
#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "camsim_runner.h"
#include "feeds_fixture.h"
#include "ptzlink.h"
#include "quillon/core/channel.h"
#include "quillon/inputs/vod/vod_object.h"
#include "quillon/inputs/vod/vod_object_class_settings.h"
#include "quillon/inputs/vod/vod_position_source.h"
#include "quillon/tracking/detections/vod_scene_holder.h"
#include "support/wait.h"

namespace quillon
{
namespace
{

using std::chrono::seconds;
using testsupport::waitFor;

// Log lines are mirrored to stderr, where the fault test reads them; the
// mirror is chosen at the first log line.
const bool kLogMirror = setenv("QUILLON_LOG_STDERR", "1", 1) == 0;

std::string scenario(const std::string& name)
{
    std::ifstream in(std::string(SCENARIO_DIR) + "/" + name + ".json");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Camera positions from the PTZ data cache (the socket comes from the PTZ
// service on the private bus); directions in the linear model.
class DataCachePositions : public VodPositionSource
{
public:
    DataCachePositions()
    {
        GError* error = nullptr;
        bus = g_dbus_connection_new_for_address_sync(
            getenv("DBUS_SYSTEM_BUS_ADDRESS"),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        g_clear_error(&error);
        client = ptzlink_client_create(1, 0);
        ptzlink_client_set_dbus_interface(client, onConnect, nullptr, this);
        ptzlink_client_start(client, 0);
    }
    ~DataCachePositions() override
    {
        ptzlink_client_delete(client);
        if (bus != nullptr)
            g_object_unref(bus);
    }

    bool positionAt(std::int64_t t, PositionRecord& p) override
    {
        return ptzlink_get_datacache_value(client, t / 1000000, t % 1000000, &p.pan, &p.tilt,
                                           &p.status, &p.panSpeed, &p.tiltSpeed, &p.horizontalFov,
                                           &p.verticalFov, &p.zoomFactor) == PTZLINK_OK;
    }
    bool screenToPanTilt(Point s, const PositionRecord& p, Point& out) override
    {
        out = {p.pan + s.x * p.horizontalFov / 2, p.tilt + s.y * p.verticalFov / 2};
        return true;
    }

private:
    static int onConnect(int channel, int* fd, int* handle, void* data)
    {
        return camsimtest::createControlSocket(static_cast<DataCachePositions*>(data)->bus, channel,
                                               fd, handle);
    }

    GDBusConnection* bus = nullptr;
    int client = 0;
};

class VodFeed : public ::testing::Test
{
protected:
    void run(const std::string& scenarioText, bool positions = true)
    {
        cam = std::make_unique<feedstest::CamsimFeeds>(scenarioText);
        holder = std::make_shared<VodSceneHolder>(1, false, bus, kVodObjectClassFile);
        if (positions)
            holder->setPositionSource(std::make_shared<DataCachePositions>());
        bus.subscribe(holder);
    }
    void TearDown() override
    {
        if (holder)
            holder->stop();
        bus.stop();
        holder.reset();
        cam.reset();
    }
    void control(const nlohmann::json& request)
    {
        auto reply = camsimtest::controlRequest(cam->root() + "/run/camsim/control", request);
        ASSERT_TRUE(reply.value("ok", false)) << reply.dump();
    }
    std::uint64_t frames() const { return holder->feedStats().frames; }
    // Waits for `n` more frames to be folded in.
    bool moreFrames(std::uint64_t n, seconds timeout = seconds(20))
    {
        std::uint64_t from = frames();
        return waitFor([&] { return frames() >= from + n; }, timeout);
    }

    Channel bus;
    std::unique_ptr<feedstest::CamsimFeeds> cam;
    std::shared_ptr<VodSceneHolder> holder;
};

std::shared_ptr<VodObject> firstOfClass(const TrackerScene& scene, int classId)
{
    for (const auto& o : scene.objects)
        if (o->objectType == classId && scene.isVisible(o->getId()))
            return std::dynamic_pointer_cast<VodObject>(o);
    return nullptr;
}

TEST_F(VodFeed, PersonWalkingBecomesConfidentThenMovesRight)
{
    run(scenario("person-walking"));
    holder->start();
    std::shared_ptr<VodObject> walker;
    ASSERT_TRUE(waitFor(
        [&] {
            walker = firstOfClass(holder->snapshot(), 0);
            return walker && walker->isConfident() && walker->moving;
        },
        seconds(30)));
    EXPECT_TRUE(walker->isHuman());
    EXPECT_EQ(walker->confidenceThreshold, 40); // the detector's calibrated threshold
    EXPECT_EQ(walker->detectionStatus, kVodTrackedConfident);
    // Toward larger pan: older-minus-newer steps give a negative rate.
    EXPECT_LT(walker->rates.x, 0.0f);
    EXPECT_GE(static_cast<double>(walker->lastSeenUs - walker->firstSeenUs), 2e6);
    EXPECT_LE(walker->history().size(), VodObject::kMaxHistory);
}

TEST_F(VodFeed, StandingPersonStaysStillWhileTheCameraPans)
{
    run(scenario("person-stops"));
    holder->start();
    // Wait until the person has stopped and been analysed as still.
    std::shared_ptr<VodObject> person;
    ASSERT_TRUE(waitFor(
        [&] {
            person = firstOfClass(holder->snapshot(), 0);
            return person && person->motionAnalysed && !person->moving &&
                   person->lastSeenUs - person->moveStateSinceUs > 1000000;
        },
        seconds(40)));
    control({{"cmd", "move"}, {"pan", 3.0}, {"space", "degrees"}});
    ASSERT_TRUE(moreFrames(30));
    person = firstOfClass(holder->snapshot(), 0);
    control({{"cmd", "move"}, {"pan", 0.0}, {"space", "degrees"}});
    ASSERT_TRUE(person);
    EXPECT_FALSE(person->moving);
}

TEST_F(VodFeed, DisabledClassNeverAppears)
{
    run(scenario("person-walking"), false);
    std::string root = cam->root() + "/etc/quillon";
    g_mkdir_with_parents(root.c_str(), 0755);
    std::ofstream(root + "/" + kVodObjectClassFile)
        << R"({"VodObjectClassSettings":{"ObjectClasses":[{"id":0,"name":"human","enabled":false}]}})";
    holder->start();
    std::size_t seen = 0;
    std::uint64_t from = frames();
    ASSERT_TRUE(waitFor(
        [&] {
            seen += holder->snapshot().objects.size();
            return frames() >= from + 150;
        },
        seconds(30)));
    EXPECT_EQ(seen, 0u);
}

TEST_F(VodFeed, IdSwitchesKeepTheStoreBounded)
{
    // Two id switches a second; the feed never deletes the ids it leaves.
    run(R"({"name":"switching","detector":{"fps":15,"latency_ms":10},
            "objects":[{"name":"p","class":"human","path":[{"t":0,"x":0,"y":15}],
            "id_switches":[0.5,1.0,1.5,2.0,2.5,3.0]}],
            "duration":3,"loop":true})",
        false);
    holder->start();
    ASSERT_TRUE(moreFrames(1));
    const std::int64_t start = monotonicNowUs();
    std::size_t most = 0;
    std::int64_t oldest = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            TrackerScene s = holder->snapshot();
            most = std::max(most, s.objects.size());
            for (const auto& o : s.objects)
                oldest = std::max(oldest, s.sceneTimeUs - o->detectedUs);
            return monotonicNowUs() - start > 36000000;
        },
        seconds(60)));
    // Left ids go 30 s after their last detection (plus a frame).
    EXPECT_GT(oldest, 25000000);
    EXPECT_LE(oldest, 30200000);
    EXPECT_LE(most, 2 * 31 + 2);
}

TEST_F(VodFeed, FaultModesAndRecovery)
{
    ASSERT_TRUE(kLogMirror);
    run(scenario("person-walking"), false);
    testing::internal::CaptureStderr();
    holder->start();
    ASSERT_TRUE(moreFrames(15));

    // Silent: nothing folded in, one warning, recovery logged.
    control({{"cmd", "detfeed-fault"}, {"mode", "silent"}});
    ASSERT_TRUE(waitFor([&] {
        auto s = holder->feedStats();
        return s.lastFrameAtUs != 0 && monotonicNowUs() - s.lastFrameAtUs > 3500000;
    }));
    const std::uint64_t subscription = holder->vodClient().subscription();
    control({{"cmd", "detfeed-fault"}, {"mode", "none"}});
    ASSERT_TRUE(moreFrames(15));

    // Undecodable frames stop in the library: no frames, no restart.
    control({{"cmd", "detfeed-fault"}, {"mode", "undecodable"}});
    ASSERT_TRUE(
        waitFor([&] { return monotonicNowUs() - holder->feedStats().lastFrameAtUs > 1000000; }));
    EXPECT_EQ(holder->vodClient().subscription(), subscription);
    control({{"cmd", "detfeed-fault"}, {"mode", "none"}});
    ASSERT_TRUE(moreFrames(15));

    // Garbage and drop break the stream: the client subscribes again.
    for (const char* mode : {"garbage", "drop"}) {
        const std::uint64_t before = holder->vodClient().subscription();
        control({{"cmd", "detfeed-fault"}, {"mode", mode}});
        g_usleep(500000);
        control({{"cmd", "detfeed-fault"}, {"mode", "none"}});
        ASSERT_TRUE(
            waitFor([&] { return holder->vodClient().subscription() > before; }, seconds(20)))
            << mode;
        ASSERT_TRUE(moreFrames(15)) << mode;
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("no detection frames for 2 s"), std::string::npos) << log;
    EXPECT_NE(log.find("detection frames resumed after"), std::string::npos);
    EXPECT_NE(log.find("VodClient attempting restart..."), std::string::npos);
}

TEST_F(VodFeed, CamsimGoneForTenSecondsThenBack)
{
    run(scenario("person-walking"), false);
    holder->start();
    ASSERT_TRUE(moreFrames(15));
    const std::uint64_t before = holder->vodClient().subscription();
    cam->stop();
    g_usleep(10000000);
    EXPECT_TRUE(holder->vodClient().started());
    EXPECT_EQ(holder->vodClient().subscription(), before);
    const std::int64_t restartedAt = monotonicNowUs();
    cam->start();
    ASSERT_TRUE(waitFor([&] { return holder->vodClient().subscription() > before; }, seconds(20)));
    ASSERT_TRUE(moreFrames(15));
    // The new subscription started from an empty store: nothing seen
    // before the restart is left.
    for (const auto& o : holder->snapshot().objects)
        EXPECT_GE(o->firstSeenUs, restartedAt);
}

TEST_F(VodFeed, SecondClientIsRefusedAndCannotEndTheFirst)
{
    run(scenario("person-walking"), false);
    holder->start();
    ASSERT_TRUE(moreFrames(5));
    {
        VodClient second(1, bus);
        EXPECT_EQ(second.start(), 1);
        second.stop();
    }
    ASSERT_TRUE(moreFrames(15));
}

TEST_F(VodFeed, DetectorClassesGiveCalibratedThresholds)
{
    run(R"({"name":"classes","detector":{"classes":[
            {"id":0,"name":"human","calibrations":[
                {"precision":0.8,"recall":0.6,"threshold":37.9},
                {"precision":0.6,"recall":0.8,"threshold":50}]},
            {"id":3,"name":"thing"},
            {"id":5,"name":"","calibrations":[{"precision":0.9,"recall":0.9,"threshold":20}]}]}})",
        false);
    holder->start();
    const VodClassMap detector = holder->vodClient().detectorClassMap();
    ASSERT_EQ(detector.size(), 2u);          // the nameless class is skipped
    EXPECT_EQ(detector.at(0).threshold, 37); // first of two equal F1, truncated
    EXPECT_EQ(detector.at(3).threshold, 0);  // no calibration
    // The file's -1 thresholds take the detector's.
    const VodClassMap classes = holder->classes();
    EXPECT_EQ(classes.at(0).threshold, 37);
    EXPECT_EQ(classes.at(1).threshold, -1); // unknown to this detector
}

TEST_F(VodFeed, DetectorWithoutClassesIsRetried)
{
    run(R"({"name":"none","detector":{"classes":[]}})", false);
    EXPECT_EQ(holder->vodClient().start(), -1);
    EXPECT_TRUE(holder->vodClient().started());
    EXPECT_EQ(holder->vodClient().subscription(), 0u);
    // Camsim gets its classes back: the retry subscribes.
    std::ofstream(cam->dir().file("classes.json"))
        << R"({"name":"back","detector":{"fps":15,"latency_ms":10}})";
    control({{"cmd", "scenario-load"}, {"path", cam->dir().file("classes.json")}});
    ASSERT_TRUE(waitFor([&] { return holder->vodClient().subscription() == 1; }, seconds(15)));
    ASSERT_TRUE(moreFrames(5));
}

TEST_F(VodFeed, StopRacesTeardown)
{
    run(R"({"name":"quick","detector":{"fps":30,"latency_ms":5}})", false);
    for (int i = 0; i < 200; i++) {
        holder->start();
        if (i % 2 == 0)
            control({{"cmd", "detfeed-fault"}, {"mode", "drop"}});
        holder->stop();
        if (i % 2 == 0)
            control({{"cmd", "detfeed-fault"}, {"mode", "none"}});
    }
    holder->start();
    ASSERT_TRUE(moreFrames(10));
}

} // namespace
} // namespace quillon
