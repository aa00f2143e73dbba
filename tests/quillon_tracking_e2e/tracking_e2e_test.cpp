// The camera follows by itself: the quillon program with the detection
// strategy against camsim playing a scenario on a private bus, judged by
// the tracking-state events camsim received, its camera pose, its presets
// and quillon's log.
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "camsim_runner.h"
#include "support/child_process.h"
#include "support/wait.h"

using namespace testsupport;
using nlohmann::json;

namespace
{

constexpr auto kLong = std::chrono::seconds(40);

class TrackingEndToEnd : public ::testing::Test
{
protected:
    // Starts camsim with `scenario` (under scenarios/) and quillon with
    // trackerType 5 and one trigger zone over the scene with preset 1.
    void start(const std::string& scenario)
    {
        cam = std::make_unique<camsimtest::CamsimRunner>(std::vector<std::string>{
            "--feeds-scenario", std::string(SCENARIO_DIR) + "/" + scenario + ".json"});
        const std::string etc = cam->root() + "/etc/quillon/";
        cam->dir().write("root/etc/quillon/application.conf", R"({"service": {"active": true}})");
        cam->dir().write("root/etc/quillon/settings.conf",
                         R"({"trackingParams": {"trackerType": 5, "timeoutToHome": 3}})");
        cam->dir().write("root/etc/quillon/profiles.conf",
                         R"({"profiles": [{"pt_polygon": [-60.0, -40.0, 60.0, -40.0, 60.0, 10.0, -60.0, 10.0],
                            "id": 1, "name": "Scene", "enabled": true, "preset": 1,
                            "zoneType": 0}]})");
        quillon = std::make_unique<ChildProcess>(
            std::vector<std::string>{QUILLON_BIN},
            std::map<std::string, std::string>{{"CAMROOT", cam->root()},
                                               {"FCGI_SOCKET_NAME", cam->root() + "/quillon.sock"},
                                               {"QUILLON_LOG_STDERR", "1"}});
        ASSERT_TRUE(quillon->waitForOutput("DriverCheck: PTZ connection ok!", kLong))
            << quillon->output();
        ASSERT_TRUE(waitFor([&] { return declared("AutotrackingState"); }, kLong));
        // The scene from its start, now that quillon watches.
        cam->control({{"cmd", "scenario-restart"}});
    }

    void TearDown() override
    {
        if (quillon) {
            EXPECT_EQ(quillon->stop(), 0) << quillon->output();
        }
    }

    bool declared(const std::string& leaf)
    {
        for (const auto& d : cam->control({{"cmd", "events-declared"}}))
            if (d["topic"].get<std::string>().find(leaf) != std::string::npos)
                return true;
        return false;
    }

    // stateInfo of every AutotrackingState event camsim received, in order.
    std::vector<bool> trackingStates()
    {
        std::vector<bool> states;
        for (const auto& e : cam->control({{"cmd", "events-sent"}}))
            if (e["topic"].get<std::string>().find("AutotrackingState") != std::string::npos &&
                e["data"].contains("stateInfo"))
                states.push_back(e["data"]["stateInfo"].get<bool>());
        return states;
    }
    bool tracking()
    {
        auto states = trackingStates();
        return !states.empty() && states.back();
    }
    int starts()
    {
        int n = 0;
        for (bool s : trackingStates())
            n += s ? 1 : 0;
        return n;
    }
    json pose() { return cam->control({{"cmd", "pose"}}); }
    std::string log() { return quillon->output(); }

    std::unique_ptr<camsimtest::CamsimRunner> cam;
    std::unique_ptr<ChildProcess> quillon;
};

} // namespace

// The walker crosses the street: taken, followed (the camera pans after
// it), lost when it leaves, the zoom-out wait, then preset 1.
TEST_F(TrackingEndToEnd, FollowsTheWalkerThenReturnsToThePreset)
{
    start("person-walking");
    ASSERT_TRUE(waitFor([&] { return tracking(); }, kLong)) << log();
    EXPECT_NE(log().find("start tracking"), std::string::npos);
    const double pan0 = pose()["pan"].get<double>();
    EXPECT_TRUE(waitFor([&] { return std::abs(pose()["pan"].get<double>() - pan0) > 5.0; }, kLong))
        << "the camera did not follow";
    ASSERT_TRUE(waitFor([&] { return !tracking(); }, kLong)) << log();
    EXPECT_TRUE(waitFor(
        [&] {
            auto presets = cam->control({{"cmd", "presets"}});
            return presets["status"]["preset"] == 1 && presets["status"]["state"] != 2 &&
                   std::abs(pose()["pan"].get<double>()) < 1.0;
        },
        kLong))
        << "no return to preset 1: " << pose();
}

// A feed that stalls while the camera follows: the camera stops within
// about a second and the target is given up; the wait then runs on the
// monotonic clock and the camera returns.
TEST_F(TrackingEndToEnd, StalledFeedStopsTheCamera)
{
    start("person-walking");
    ASSERT_TRUE(waitFor([&] { return tracking(); }, kLong)) << log();
    ASSERT_TRUE(waitFor([&] { return pose()["pan_speed"].get<double>() != 0.0; }, kLong));
    cam->control({{"cmd", "feeds-fault"}, {"mode", "stall"}});
    EXPECT_TRUE(quillon->waitForOutput("stopping the camera", kLong)) << log();
    EXPECT_TRUE(waitFor([&] { return pose()["pan_speed"].get<double>() == 0.0 && !tracking(); }))
        << pose();
    EXPECT_TRUE(waitFor(
        [&] {
            return cam->control({{"cmd", "presets"}})["status"]["preset"] == 1;
        },
        kLong));
}

// camsim restarted while the camera follows: quillon keeps running, checks
// the new driver connection (space set again), declares its events again
// and takes the walker again.
TEST_F(TrackingEndToEnd, CamsimRestartedWhileFollowing)
{
    start("person-walking");
    ASSERT_TRUE(waitFor([&] { return tracking(); }, kLong)) << log();
    cam->stop();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    cam->start();
    ASSERT_TRUE(waitFor([&] { return declared("AutotrackingState"); }, kLong)) << log();
    EXPECT_TRUE(waitFor(
        [&] {
            const std::string text = log();
            std::size_t count = 0;
            for (std::size_t at = text.find("DriverCheck: Set space ok!"); at != std::string::npos;
                 at = text.find("DriverCheck: Set space ok!", at + 1))
                ++count;
            return count >= 2;
        },
        kLong))
        << log();
    cam->control({{"cmd", "scenario-restart"}});
    EXPECT_TRUE(waitFor([&] { return tracking(); }, kLong)) << log();
    EXPECT_TRUE(quillon->running());
}

// A car that parks is let go 20 s after it stopped moving; a person who
// stands still is kept.
TEST_F(TrackingEndToEnd, ParkedCarIsDropped)
{
    start("car-parks");
    ASSERT_TRUE(waitFor([&] { return tracking(); }, kLong)) << log();
    EXPECT_TRUE(quillon->waitForOutput("tracked object not human, stationary for", kLong)) << log();
    EXPECT_TRUE(waitFor([&] { return !tracking(); }));
}
