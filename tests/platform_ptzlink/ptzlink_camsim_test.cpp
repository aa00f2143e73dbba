// libptzlink through the PTZ service's control socket against camsim on a
// private bus, the way the tracker uses it: moves integrate to the expected
// pose, speed spaces, data-cache reads, injected faults, and a camsim that is
// killed mid-session.
#include <gio/gunixfdlist.h>

#include <cmath>
#include <cstdlib>

#include <gtest/gtest.h>

#include "camsim_runner.h"
#include "ptzlink.h"

using camsimtest::CamsimRunner;
using nlohmann::json;

namespace
{

struct Pose {
    float pan = 0, tilt = 0, panSpeed = 0, tiltSpeed = 0, hfov = 0, vfov = 0, zoom = 0;
    uint32_t status = 0;
};

// The connect/disconnect callbacks a daemon installs: the socket comes from
// "com.zeto.PTZ2.ControlSocket1" on the channel's object.
struct Link {
    GDBusConnection* bus = nullptr;
    int connects = 0;
    int disconnects = 0;

    static int onConnect(int channel, int* fd, int* handle, void* data)
    {
        auto* self = static_cast<Link*>(data);
        std::string path = "/com/zeto/PTZ2/Channel/" + std::to_string(channel);
        GUnixFDList* fds = nullptr;
        GVariant* r = g_dbus_connection_call_with_unix_fd_list_sync(
            self->bus, "com.zeto.PTZ2", path.c_str(), "com.zeto.PTZ2.ControlSocket1",
            "CreateSocketAsAutotracker", nullptr, G_VARIANT_TYPE("(i)"), G_DBUS_CALL_FLAGS_NONE,
            5000, nullptr, &fds, nullptr, nullptr);
        if (r == nullptr)
            return -1;
        g_variant_get(r, "(i)", handle);
        g_variant_unref(r);
        *fd = fds != nullptr && g_unix_fd_list_get_length(fds) > 0
                  ? g_unix_fd_list_get(fds, 0, nullptr)
                  : -1;
        if (fds != nullptr)
            g_object_unref(fds);
        ++self->connects;
        return *fd >= 0 ? 0 : -1;
    }

    static int onDisconnect(int channel, int handle, void* data)
    {
        auto* self = static_cast<Link*>(data);
        ++self->disconnects;
        std::string path = "/com/zeto/PTZ2/Channel/" + std::to_string(channel);
        GVariant* r = g_dbus_connection_call_sync(self->bus, "com.zeto.PTZ2", path.c_str(),
                                                  "com.zeto.PTZ2.ControlSocket1", "DestroySocket",
                                                  g_variant_new("(i)", handle), nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (r != nullptr)
            g_variant_unref(r);
        return 0;
    }
};

long long monotonicUs()
{
    return g_get_monotonic_time();
}

class PtzlinkCamsim : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("PTZLINK_TIMEOUT_MS", "300", 1);
        cam = std::make_unique<CamsimRunner>();
        link.bus = cam->bus();
        client = ptzlink_client_create(1, 0);
        ASSERT_GT(client, 0);
        ptzlink_client_set_dbus_interface(client, Link::onConnect, Link::onDisconnect, &link);
        ASSERT_EQ(ptzlink_client_start(client, 0), PTZLINK_OK);
    }
    void TearDown() override
    {
        ptzlink_client_stop(client);
        ptzlink_client_delete(client);
        cam.reset();
        unsetenv("PTZLINK_TIMEOUT_MS");
    }
    int read(long long tUs, Pose& p)
    {
        return ptzlink_get_datacache_value(client, tUs / 1000000, tUs % 1000000, &p.pan, &p.tilt,
                                           &p.status, &p.panSpeed, &p.tiltSpeed, &p.hfov, &p.vfov,
                                           &p.zoom);
    }
    // Moves for a while; returns the pan speed seen in steady state, measured
    // from two data-cache reads 0.2 s apart.
    double measuredPanSpeed(double pan)
    {
        EXPECT_EQ(ptzlink_continuous_move(client, pan, 0, 0), PTZLINK_OK);
        long long t0 = monotonicUs();
        g_usleep(350000);
        Pose a, b;
        EXPECT_EQ(read(t0 + 100000, a), PTZLINK_OK);
        EXPECT_EQ(read(t0 + 300000, b), PTZLINK_OK);
        EXPECT_EQ(ptzlink_continuous_move(client, 0, 0, 0), PTZLINK_OK);
        double d = b.pan - a.pan;
        if (d < -180)
            d += 360;
        return d / 0.2;
    }
    std::unique_ptr<CamsimRunner> cam;
    Link link;
    int client = 0;
};

} // namespace

TEST_F(PtzlinkCamsim, ContinuousMovesIntegrateInBothSpeedSpaces)
{
    // Default space: 100 = 3 fields of view per second, so 10 = 0.3 x 60
    // degrees per second.
    EXPECT_NEAR(measuredPanSpeed(10), 18.0, 0.05);

    int count = 0, selected = -1;
    ptzlink_space* spaces = nullptr;
    char* names = nullptr;
    ASSERT_EQ(ptzlink_get_spaces(client, &count, &spaces, &selected, &names), PTZLINK_OK);
    bool alternate = false;
    for (int i = 0; i < count; ++i)
        alternate |= spaces[i].kind == 256 && spaces[i].id == 3;
    EXPECT_TRUE(alternate);
    EXPECT_EQ(spaces[selected].id, 1);
    free(spaces);
    free(names);

    // Alternate space: 0.2 reads as 10 in the default space.
    ASSERT_EQ(ptzlink_set_spaces(client, 256 | 2, 2), PTZLINK_OK);
    EXPECT_NEAR(measuredPanSpeed(0.2), 18.0, 0.05);
    EXPECT_EQ(ptzlink_set_spaces(client, 512 | 1, 1), PTZLINK_ERR_REFUSED);

    // Zoom: 100 doubles per second.
    Pose before, after;
    ASSERT_EQ(ptzlink_continuous_move(client, 0, 0, 100), PTZLINK_OK);
    long long t0 = monotonicUs();
    g_usleep(400000);
    ASSERT_EQ(read(t0 + 100000, before), PTZLINK_OK);
    ASSERT_EQ(read(t0 + 300000, after), PTZLINK_OK);
    EXPECT_NEAR(after.zoom / before.zoom, std::pow(2.0, 0.2), 0.01);
    EXPECT_LT(after.hfov, before.hfov);
    EXPECT_TRUE(after.status & 0x10);
}

TEST_F(PtzlinkCamsim, DataCacheInterpolatesThePastAndRefusesOutsideItsWindow)
{
    long long t0 = monotonicUs();
    ASSERT_EQ(ptzlink_continuous_move(client, 0, -50.0 / 3, 0), PTZLINK_OK); // 17 deg/s down
    g_usleep(300000);
    Pose now, mid, late;
    ASSERT_EQ(read(0, now), PTZLINK_OK);
    ASSERT_EQ(read(t0 + 100000, mid), PTZLINK_OK);
    ASSERT_EQ(read(t0 + 250000, late), PTZLINK_OK);
    EXPECT_NEAR(late.tilt - mid.tilt, -17.0 * 0.15, 0.05);
    EXPECT_NEAR(mid.tiltSpeed, -17.0, 0.01);
    EXPECT_EQ(mid.status & 0x13, 0x02u);
    EXPECT_LT(now.tilt, late.tilt);
    EXPECT_EQ(ptzlink_continuous_move(client, 0, 0, 0), PTZLINK_OK);

    Pose p;
    EXPECT_EQ(read(monotonicUs() + 2000000, p), PTZLINK_ERR_NO_RECORD); // future
    EXPECT_EQ(read(t0 - 11000000, p), PTZLINK_ERR_NO_RECORD);           // before the window
}

TEST_F(PtzlinkCamsim, InjectedFaultsFailTheRequest)
{
    cam->control({{"cmd", "ptzlink-fault"}, {"mode", "garbage"}});
    EXPECT_EQ(ptzlink_continuous_move(client, 0, 0, 0), PTZLINK_ERR_PROTOCOL);
    cam->control({{"cmd", "ptzlink-fault"}, {"mode", "short"}});
    Pose p;
    EXPECT_EQ(read(0, p), PTZLINK_ERR_PROTOCOL);
    cam->control({{"cmd", "ptzlink-fault"}, {"mode", "silent"}});
    EXPECT_EQ(read(0, p), PTZLINK_ERR_TIMEOUT);
    cam->control({{"cmd", "ptzlink-fault"}, {"mode", "failspaces"}});
    int count = 0;
    ptzlink_space* spaces = nullptr;
    EXPECT_EQ(ptzlink_get_spaces(client, &count, &spaces, nullptr, nullptr), PTZLINK_ERR_REFUSED);
    cam->control({{"cmd", "ptzlink-fault"}, {"mode", "nospaces"}});
    ASSERT_EQ(ptzlink_get_spaces(client, &count, &spaces, nullptr, nullptr), PTZLINK_OK);
    for (int i = 0; i < count; ++i)
        EXPECT_NE(spaces[i].id, 3);
    free(spaces);
    cam->control({{"cmd", "ptzlink-fault"}, {"mode", "none"}});
    EXPECT_EQ(read(0, p), PTZLINK_OK);
}

TEST_F(PtzlinkCamsim, ClosingTheSocketStopsACameraLeftMoving)
{
    ASSERT_EQ(ptzlink_continuous_move(client, 20, 0, 0), PTZLINK_OK);
    ptzlink_client_stop(client);
    EXPECT_EQ(link.disconnects, 1);
    EXPECT_TRUE(camsimtest::pumpUntil([&] {
        return cam->control({{"cmd", "pose"}})["pan_speed"].get<double>() == 0.0;
    }));
    EXPECT_EQ(ptzlink_continuous_move(client, 1, 0, 0), PTZLINK_ERR_NOT_CONNECTED);
    ASSERT_EQ(ptzlink_client_start(client, 0), PTZLINK_OK);
    EXPECT_EQ(link.connects, 2);
}

TEST_F(PtzlinkCamsim, EveryCallFailsWhenCamsimIsKilled)
{
    Pose p;
    ASSERT_EQ(read(0, p), PTZLINK_OK);
    cam->kill();
    EXPECT_EQ(ptzlink_continuous_move(client, 1, 0, 0), PTZLINK_ERR_IO);
    EXPECT_EQ(read(0, p), PTZLINK_ERR_NOT_CONNECTED); // reconnecting finds no service
    int count = 0;
    ptzlink_space* spaces = nullptr;
    EXPECT_EQ(ptzlink_get_spaces(client, &count, &spaces, nullptr, nullptr),
              PTZLINK_ERR_NOT_CONNECTED);
    EXPECT_EQ(ptzlink_set_spaces(client, 258, 2), PTZLINK_ERR_NOT_CONNECTED);
}
