// The loop closed through camsim: the real detection feed, the law and the
// control link centre a person walking around the camera at 5 degrees per
// second, and keep doing so when camsim dies and comes back, when the driver
// drops the connection, and camsim stops the camera when the loop's process
// dies.
#include <glib.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "closed_loop.h"
#include "link_fixture.h"
#include "support/child_process.h"

using motiontest::ClosedLoop;
using motiontest::LoopSample;

namespace
{

constexpr float kAimTolerance = 0.05f; // image units
constexpr float kTargetRate = 5.0f;    // degrees per second

// Holds once the aim error and the pan rate have stayed within bounds for
// `hold` seconds of scene time.
class Settled
{
public:
    explicit Settled(double hold = 3.0) : holdUs_(static_cast<std::int64_t>(hold * 1e6)) {}
    bool operator()(const LoopSample& s)
    {
        bool good = s.steered && s.readResult == 0 && std::fabs(s.x) < kAimTolerance &&
                    std::fabs(s.position.panSpeed - kTargetRate) < 0.1f * kTargetRate;
        if (!good) {
            since_ = 0;
            return false;
        }
        if (since_ == 0)
            since_ = s.sceneUs;
        return s.sceneUs - since_ >= holdUs_;
    }

private:
    std::int64_t holdUs_;
    std::int64_t since_ = 0;
};

class ClosedLoopCamsim : public motiontest::LinkFixture
{
protected:
    std::vector<std::string> camsimArgs() const override
    {
        return {"--feeds-scenario", std::string(SCENARIO_DIR) + "/ramp-pan.json"};
    }
    // Starts the loop and waits until it steers.
    void startLoop()
    {
        loop.start();
        ASSERT_TRUE(loop.run([&](const LoopSample&) { return loop.initialised(); },
                             std::chrono::seconds(10)));
        ASSERT_TRUE(loop.driverCheck().spaceSet());
    }
    // Within 20 s of steering (plus the 3 s it must hold) the loop follows.
    bool converges() { return loop.run(Settled(), std::chrono::seconds(23)); }
    std::string space()
    {
        nlohmann::json c = connections();
        return c.size() == 1 ? c[0]["space"].get<std::string>() : c.dump();
    }

    ClosedLoop loop{{1, 1.0f, 1.0f}}; // zoom held
};

} // namespace

TEST_F(ClosedLoopCamsim, FollowsARampWithinTwentySeconds)
{
    startLoop();
    EXPECT_EQ(space(), "alternate");
    EXPECT_TRUE(converges());
}

TEST_F(ClosedLoopCamsim, SurvivesCamsimKilledAndRestartedOnTheSameBus)
{
    startLoop();
    ASSERT_TRUE(converges());
    cam->kill();
    // Every call fails, none hangs beyond the library's time-out.
    quillon::PositionRecord r;
    for (int i = 0; i < 3; ++i) {
        std::int64_t t0 = g_get_monotonic_time();
        EXPECT_NE(loop.client().readPosition(0, r), 0);
        EXPECT_NE(loop.client().continuousMove(1, 0, 0), 0);
        EXPECT_LE(g_get_monotonic_time() - t0, 2 * 600'000) << i;
    }
    cam->start();
    EXPECT_TRUE(
        loop.run([&](const LoopSample&) { return loop.initialised(); }, std::chrono::seconds(20)));
    EXPECT_GE(loop.subscriptions(), 2);
    EXPECT_EQ(space(), "alternate");
    EXPECT_TRUE(converges());
}

TEST_F(ClosedLoopCamsim, SurvivesTheDriverDroppingTheConnection)
{
    startLoop();
    ASSERT_TRUE(converges());
    unsigned generation = loop.client().linkGeneration();
    control({{"cmd", "ptzlink-close"}});
    // The next tick reconnects; the check runs again and selects the space.
    ASSERT_TRUE(loop.run(
        [&](const LoopSample&) {
            return loop.client().linkGeneration() > generation && loop.initialised();
        },
        std::chrono::seconds(10)));
    EXPECT_EQ(space(), "alternate");
    EXPECT_TRUE(converges());
}

TEST_F(ClosedLoopCamsim, CamsimStopsTheCameraWhenTheLoopProcessDies)
{
    std::string trace = cam->dir().path() + "/kill.csv";
    testsupport::ChildProcess loopProcess({MOTION_LOOP_PATH, "30"}, {{"CAMROOT", cam->root()}});
    ASSERT_TRUE(loopProcess.waitForOutput("steering", std::chrono::seconds(20)))
        << loopProcess.output();
    // Moving: the person walks away from the aim.
    ASSERT_TRUE(testsupport::waitFor([&] {
        return std::fabs(control({{"cmd", "pose"}})["pan_speed"].get<double>()) > 1.0;
    }));
    control({{"cmd", "trace-start"}, {"path", trace}});
    g_usleep(100000);
    std::int64_t killedUs = g_get_monotonic_time();
    loopProcess.stop(9);
    ASSERT_TRUE(testsupport::waitFor([&] { return connections().empty(); }));
    g_usleep(100000);
    control({{"cmd", "trace-stop"}});

    // The first trace row after the kill that commands nothing.
    std::ifstream in(trace);
    std::string line;
    std::getline(in, line);
    double stoppedAt = -1;
    bool movingBefore = false;
    while (std::getline(in, line)) {
        std::stringstream row(line);
        std::vector<std::string> cells;
        for (std::string c; std::getline(row, c, ',');)
            cells.push_back(c);
        ASSERT_GE(cells.size(), 14u);
        double t = std::stod(cells[0]);
        bool commanding = std::stod(cells[10]) != 0.0 || std::stod(cells[11]) != 0.0;
        if (t * 1e6 < killedUs) {
            movingBefore |= commanding;
        } else if (!commanding) {
            stoppedAt = t;
            break;
        }
    }
    EXPECT_TRUE(movingBefore);
    ASSERT_GE(stoppedAt, 0.0);
    EXPECT_LE(stoppedAt * 1e6 - static_cast<double>(killedUs), 100'000.0);
}
