// camsim figures: data-cache read and continuous-move round trips through
// libptzlink (camsim on a private bus, socket from the PTZ service), and
// camsim's idle CPU and resident memory.
//
//   camsim_bench [--benchmark_...]    (prints the idle figures first)
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <benchmark/benchmark.h>

#include "camsim/core/position_history.h"
#include "camsim_runner.h"
#include "ptzlink.h"

namespace
{

camsimtest::CamsimRunner* runner = nullptr;
int client = 0;

int onConnect(int, int* fd, int* handle, void* data)
{
    auto* bus = static_cast<GDBusConnection*>(data);
    GUnixFDList* fds = nullptr;
    GVariant* r = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, "com.zeto.PTZ2", "/com/zeto/PTZ2/Channel/1", "com.zeto.PTZ2.ControlSocket1",
        "CreateSocketAsAutotracker", nullptr, G_VARIANT_TYPE("(i)"), G_DBUS_CALL_FLAGS_NONE, 5000,
        nullptr, &fds, nullptr, nullptr);
    if (r == nullptr)
        return -1;
    g_variant_get(r, "(i)", handle);
    g_variant_unref(r);
    *fd = g_unix_fd_list_get(fds, 0, nullptr);
    g_object_unref(fds);
    return *fd >= 0 ? 0 : -1;
}

int onDisconnect(int, int, void*)
{
    return 0;
}

// utime + stime of a process in seconds.
double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    std::istringstream rest(all.substr(all.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long rssKiB(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

void BM_DataCacheRead(benchmark::State& state)
{
    float pan, tilt, ps, ts, hfov, vfov, zoom;
    uint32_t status;
    for (auto _ : state) {
        // Half a second ago: an interpolated read from the history.
        long long t = g_get_monotonic_time() - 500000;
        int r = ptzlink_get_datacache_value(client, t / 1000000, t % 1000000, &pan, &tilt, &status,
                                            &ps, &ts, &hfov, &vfov, &zoom);
        if (r != PTZLINK_OK)
            state.SkipWithError("data-cache read failed");
        benchmark::DoNotOptimize(pan);
    }
}
BENCHMARK(BM_DataCacheRead)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ContinuousMove(benchmark::State& state)
{
    double speed = 1.0;
    for (auto _ : state) {
        speed = -speed; // a changing command, as the tracker sends
        if (ptzlink_continuous_move(client, speed, 0, 0) != PTZLINK_OK)
            state.SkipWithError("move failed");
    }
    ptzlink_continuous_move(client, 0, 0, 0);
}
BENCHMARK(BM_ContinuousMove)->Repetitions(5)->ReportAggregatesOnly(true);

// The data cache itself, full (10 s of samples at 1 ms), in process.
void BM_HistoryLookup(benchmark::State& state)
{
    camsim::PositionHistory h;
    camsim::CameraState s;
    for (long long t = 0; t <= 10'000'000; t += 1000) {
        s.timeUs = t;
        s.pan = static_cast<double>(t) / 1e5;
        h.record(s);
    }
    long long t = 1'234'567;
    for (auto _ : state) {
        auto r = h.at(t, s);
        benchmark::DoNotOptimize(r);
        t = (t + 7919) % 9'000'000 + 1'000'000;
    }
}
BENCHMARK(BM_HistoryLookup);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    camsimtest::CamsimRunner cam;
    runner = &cam;

    pid_t pid = cam.process().pid();
    g_usleep(1000000); // settle after start-up
    double c0 = cpuSeconds(pid);
    const double idle = 10.0;
    g_usleep(static_cast<gulong>(idle * 1e6));
    double c1 = cpuSeconds(pid);
    std::printf("camsim idle CPU: %.2f %% of a core over %.0f s; resident memory %ld KiB\n",
                100.0 * (c1 - c0) / idle, idle, rssKiB(pid));

    client = ptzlink_client_create(1, 0);
    ptzlink_client_set_dbus_interface(client, onConnect, onDisconnect, cam.bus());
    if (ptzlink_client_start(client, 0) != PTZLINK_OK) {
        std::fprintf(stderr, "no control socket\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    std::printf("camsim resident memory after the run: %ld KiB\n", rssKiB(pid));
    ptzlink_client_delete(client);
    benchmark::Shutdown();
    return 0;
}
