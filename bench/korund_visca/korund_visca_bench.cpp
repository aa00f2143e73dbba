// VISCA parser speed without D-Bus, and pan/tilt commands end to end through
// a private D-Bus to camsim.
#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "camsim_rig.h"
#include "visca_dbus.h"
#include "visca_device.h"
#include "visca_parser.h"

namespace
{

// An action table that does nothing: the cost measured is the parser's.
int getBool(int, const char*, gboolean* v)
{
    *v = TRUE;
    return 0;
}
int getInt(int, const char*, gint32* v)
{
    *v = 1000;
    return 0;
}
int getDouble(int, const char*, double* v)
{
    *v = 0;
    return 0;
}
int getText(int, const char* name, char** v)
{
    *v = g_strdup(g_str_equal(name, "CaptureFrequency") ? "50Hz" : "auto");
    return 0;
}
int setBool(int, const char*, gboolean)
{
    return 0;
}
int setInt(int, const char*, gint32)
{
    return 0;
}
int setDouble(int, const char*, double)
{
    return 0;
}
int setText(int, const char*, const char*)
{
    return 0;
}
int movePtz(double pan, int, double tilt, int, int zoom, int, int speed)
{
    benchmark::DoNotOptimize(pan + tilt + zoom + speed);
    return 0;
}
int moveFocus(int, int)
{
    return 0;
}
int noArgs()
{
    return 0;
}
int named(const char*)
{
    return 0;
}
int query(ViscaPosition* p)
{
    *p = ViscaPosition{12.5, -3.0, 5000, 0, 0, 0, FALSE, FALSE};
    return 0;
}
gboolean notRotated()
{
    return FALSE;
}

const ViscaActions sink = {getBool, getInt,    getInt,  getDouble, getText, getText,   setBool,
                           setInt,  setDouble, setText, setText,   movePtz, moveFocus, noArgs,
                           named,   named,     named,   named,     query,   notRotated};

void parseCommand(benchmark::State& state, std::vector<guint8> packet)
{
    visca_actions_set(&sink);
    visca_set_device_id(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(visca_cmd_parser(packet.data(), packet.size()));
    visca_actions_set(nullptr);
}

BENCHMARK_CAPTURE(parseCommand, zoom_tele, {0x81, 0x01, 0x04, 0x07, 0x02, 0xFF});
BENCHMARK_CAPTURE(parseCommand, pantilt_cont,
                  {0x81, 0x01, 0x06, 0x01, 0x10, 0x08, 0x01, 0x02, 0xFF});
BENCHMARK_CAPTURE(parseCommand, pantilt_absolute,
                  {0x81, 0x01, 0x06, 0x02, 0x18, 0x18, 0x00, 0x06, 0x00, 0x00, 0x0F, 0x0E, 0x00,
                   0x00, 0xFF});
BENCHMARK_CAPTURE(parseCommand, shutter_step_up, {0x81, 0x01, 0x04, 0x0A, 0x02, 0xFF});
BENCHMARK_CAPTURE(parseCommand, refused_length, {0x81, 0x01, 0x04, 0x07, 0x02, 0x00, 0xFF});

void parseInquiry(benchmark::State& state, std::vector<guint8> packet)
{
    visca_actions_set(&sink);
    visca_set_device_id(1);
    for (auto _ : state) {
        guint8* reply = nullptr;
        gsize length = 0;
        benchmark::DoNotOptimize(visca_inq_parser(packet.data(), packet.size(), &reply, &length));
        g_free(reply);
    }
    visca_actions_set(nullptr);
}

BENCHMARK_CAPTURE(parseInquiry, pantilt_position, {0x81, 0x09, 0x06, 0x12, 0xFF});
BENCHMARK_CAPTURE(parseInquiry, auto_exposure, {0x81, 0x09, 0x04, 0x39, 0xFF});

// End to end: parser, D-Bus call through the bus daemon, camsim moving its
// camera model, reply. Median and 99th percentile per command.
void endToEnd(benchmark::State& state, std::vector<std::vector<guint8>> packets, bool inquiry)
{
    static std::unique_ptr<kortest::CamsimRig> rig;
    if (!rig)
        rig = std::make_unique<kortest::CamsimRig>();
    visca_actions_set(nullptr);
    visca_set_device_id(1);
    if (visca_dbus_open_property_proxies() != 0 || visca_dbus_open_ptz_proxy() != 0) {
        state.SkipWithError("no camera services");
        return;
    }
    std::vector<double> us;
    size_t i = 0;
    for (auto _ : state) {
        const auto& p = packets[i++ % packets.size()];
        auto t0 = std::chrono::steady_clock::now();
        int rc;
        if (inquiry) {
            guint8* reply = nullptr;
            gsize length = 0;
            rc = visca_inq_parser(p.data(), p.size(), &reply, &length);
            g_free(reply);
        } else {
            rc = visca_cmd_parser(p.data(), p.size());
        }
        auto t1 = std::chrono::steady_clock::now();
        if (rc != 0) {
            state.SkipWithError("command failed");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    visca_dbus_close();
    if (us.empty())
        return;
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}

BENCHMARK_CAPTURE(endToEnd, pantilt_cont_dbus,
                  {{0x81, 0x01, 0x06, 0x01, 0x08, 0x08, 0x02, 0x01, 0xFF},
                   {0x81, 0x01, 0x06, 0x01, 0x08, 0x08, 0x01, 0x02, 0xFF},
                   {0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF}},
                  false)
    ->Iterations(3000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(endToEnd, position_inquiry_dbus, {{0x81, 0x09, 0x06, 0x12, 0xFF}}, true)
    ->Iterations(3000)
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
