// PtzClient and DriverCheck through libptzlink against camsim: the driver
// check in each driver behaviour, control sockets that come without a
// descriptor or not at all, the wrappers after shut down, data-cache reads,
// and a connection the driver drops.
#include <glib.h>

#include <string>

#include <gtest/gtest.h>

#include "link_fixture.h"
#include "quillon/motion/link/driver_check.h"
#include "quillon/motion/link/ptz_client.h"

using namespace quillon;
using motiontest::LinkFixture;

namespace
{

class PtzLink : public LinkFixture
{
protected:
    // Runs up to `ticks` driver-check steps; returns the last result.
    int check(int ticks)
    {
        int result = 0;
        for (int i = 0; i < ticks && !driverCheck.done(); ++i)
            result = driverCheck.step(client);
        return result;
    }
    std::string spaceOfOnlyConnection()
    {
        nlohmann::json c = connections();
        return c.size() == 1 ? c[0]["space"].get<std::string>() : "connections: " + c.dump();
    }

    PtzClient client{1};
    DriverCheck driverCheck;
};

} // namespace

TEST_F(PtzLink, DriverCheckSelectsTheAlternateSpaceOneStepPerTick)
{
    testing::internal::CaptureStderr();
    client.create();
    EXPECT_EQ(driverCheck.step(client), 0);
    EXPECT_EQ(driverCheck.state(), 2);
    EXPECT_EQ(driverCheck.step(client), 0);
    EXPECT_TRUE(driverCheck.done());
    EXPECT_TRUE(driverCheck.spaceSet());
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("connectSocket (as autotracker) 1 => "), std::string::npos) << log;
    EXPECT_NE(log.find("DriverCheck: PTZ connection ok! \n"), std::string::npos) << log;
    EXPECT_NE(log.find("DriverCheck: Set space ok! \n"), std::string::npos) << log;
    EXPECT_EQ(spaceOfOnlyConnection(), "alternate");
    EXPECT_EQ(client.linkGeneration(), 1u);
    // Done: further steps do nothing.
    EXPECT_EQ(driverCheck.step(client), 0);
    EXPECT_EQ(driverCheck.state(), 3);
}

TEST_F(PtzLink, DriverCheckInEachDriverBehaviour)
{
    struct Row {
        const char* fault;
        int state;
        bool spaceSet;
        int result;           // of the last step
        const char* logEvery; // logged on every tick in the end state
    };
    const Row rows[] = {
        {"nospaces", 3, false, 0, nullptr},
        {"failspaces", 2, false, -3, "Pan tilt spaces are missing: -6 (nil)\n"},
        {"refuse", 1, false, -6, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.fault);
        control({{"cmd", "ptzlink-fault"}, {"mode", r.fault}});
        PtzClient c(1);
        DriverCheck d;
        c.create();
        testing::internal::CaptureStderr();
        int result = 0;
        for (int i = 0; i < 5; ++i)
            result = d.step(c);
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(d.state(), r.state);
        EXPECT_EQ(d.spaceSet(), r.spaceSet);
        EXPECT_EQ(result, r.result);
        if (r.logEvery != nullptr) {
            // Four of the five ticks ran in state 2.
            std::size_t count = 0;
            for (auto at = log.find(r.logEvery); at != std::string::npos;
                 at = log.find(r.logEvery, at + 1))
                ++count;
            EXPECT_EQ(count, 4u) << log;
        }
        c.shutDown();
    }
}

TEST_F(PtzLink, ASocketWithoutDescriptorIsGivenBack)
{
    control({{"cmd", "ptz2-fault"}, {"mode", "nofd"}});
    testing::internal::CaptureStderr();
    client.create();
    EXPECT_EQ(client.continuousMove(0, 0, 0), -2); // not connected
    std::string log = testing::internal::GetCapturedStderr();
    auto handle = log.find("CreateSocketAsAutotracker returned handle ");
    auto given = log.find("DestroySocket returned\n");
    auto failed = log.find("connectSocket failed (as autotracker) -1 1\n");
    EXPECT_NE(handle, std::string::npos) << log;
    EXPECT_LT(handle, given) << log;
    EXPECT_LT(given, failed) << log;
    EXPECT_TRUE(connections().empty()) << connections();
    EXPECT_EQ(client.linkGeneration(), 0u);
}

TEST_F(PtzLink, ARefusedSocketFailsTheConnect)
{
    control({{"cmd", "ptz2-fault"}, {"mode", "refuse-socket"}});
    testing::internal::CaptureStderr();
    client.create();
    EXPECT_EQ(client.continuousMove(0, 0, 0), -2);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("CreateSocketAsAutotracker returned (nil)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("connectSocket failed (as autotracker) -1 1\n"), std::string::npos) << log;
    EXPECT_TRUE(connections().empty());
    // The service answers again: the next request connects.
    control({{"cmd", "ptz2-fault"}, {"mode", "none"}});
    EXPECT_EQ(client.continuousMove(0, 0, 0), 0);
    EXPECT_EQ(connections().size(), 1u);
}

TEST_F(PtzLink, WrappersWithoutAClientGiveMinusSeven)
{
    client.create();
    ASSERT_EQ(client.continuousMove(0, 0, 0), 0);
    ASSERT_EQ(connections().size(), 1u);
    client.shutDown();
    // The socket went back to the service.
    EXPECT_TRUE(testsupport::waitFor([&] { return connections().empty(); }));
    PositionRecord r;
    r.pan = 42.0f;
    EXPECT_EQ(client.continuousMove(1, 0, 0), -7);
    EXPECT_EQ(client.setSpaces(256, 2), -7);
    EXPECT_EQ(client.readPosition(0, r), -7);
    EXPECT_EQ(r.pan, 42.0f);
    EXPECT_EQ(client.hasSpace(3), -7);
    testing::internal::CaptureStderr();
    client.shutDown();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "quillon[I]: PTZ client already shut down\n");
    // A client the library refuses to create is no client either.
    PtzClient none(0);
    testing::internal::CaptureStderr();
    none.create();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not created"), std::string::npos);
    EXPECT_EQ(none.continuousMove(0, 0, 0), -7);
}

TEST_F(PtzLink, PastReadsMatchTheDataCacheAndOldTimesFail)
{
    client.create();
    ASSERT_EQ(client.continuousMove(20, -10, 50), 0);
    g_usleep(400000);
    std::int64_t t = g_get_monotonic_time() - 200000;
    PositionRecord r;
    ASSERT_EQ(client.readPosition(t, r), 0);
    ASSERT_EQ(client.continuousMove(0, 0, 0), 0);
    nlohmann::json h = control({{"cmd", "history"}, {"time_us", t}});
    EXPECT_FLOAT_EQ(r.pan, h["pan"].get<float>());
    EXPECT_FLOAT_EQ(r.tilt, h["tilt"].get<float>());
    EXPECT_FLOAT_EQ(r.panSpeed, h["pan_speed"].get<float>());
    EXPECT_FLOAT_EQ(r.tiltSpeed, h["tilt_speed"].get<float>());
    EXPECT_FLOAT_EQ(r.horizontalFov, h["hfov"].get<float>());
    EXPECT_FLOAT_EQ(r.verticalFov, h["vfov"].get<float>());
    EXPECT_FLOAT_EQ(r.zoomFactor, h["zoom"].get<float>());
    EXPECT_EQ(r.status, h["status"].get<std::uint32_t>());
    EXPECT_GT(r.zoomFactor, 1.0f);
    EXPECT_NE(r.status & 0x13u, 0u);

    PositionRecord old = r;
    EXPECT_EQ(client.readPosition(t - 11'000'000, r), -8);
    EXPECT_EQ(client.readPosition(g_get_monotonic_time() + 2'000'000, r), -8);
    EXPECT_EQ(r, old);
}

TEST_F(PtzLink, ADroppedConnectionIsReplacedAndItsSpaceSelectedAgain)
{
    client.create();
    check(5);
    ASSERT_TRUE(driverCheck.spaceSet());
    EXPECT_FALSE(driverCheck.followLink(client));
    control({{"cmd", "ptzlink-close"}});
    // The library finds the socket closed, gives it back and reconnects on
    // the next request; that connection starts in the default space.
    EXPECT_EQ(client.continuousMove(0.1, 0, 0), -4);
    PositionRecord r;
    EXPECT_EQ(client.readPosition(0, r), 0);
    EXPECT_EQ(spaceOfOnlyConnection(), "proportional");
    EXPECT_EQ(client.linkGeneration(), 2u);
    EXPECT_TRUE(driverCheck.followLink(client));
    EXPECT_EQ(driverCheck.state(), 1);
    EXPECT_FALSE(driverCheck.spaceSet());
    check(5);
    EXPECT_TRUE(driverCheck.spaceSet());
    EXPECT_EQ(spaceOfOnlyConnection(), "alternate");
    EXPECT_FALSE(driverCheck.followLink(client));
}
