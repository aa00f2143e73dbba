// The control link to camsim: continuous moves and data-cache reads through
// PtzClient and, in the same run and on the same connection, through the
// bare library; the time from creating a client to a finished driver check;
// and the time to the first accepted move after camsim came back.
#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "bench/support/latency_figures.h"
#include "camsim_runner.h"
#include "ptzlink.h"
#include "quillon/motion/link/driver_check.h"
#include "quillon/motion/link/ptz_client.h"
#include "quillon/motion/presets/ptz_presets.h"
#include "support/wait.h"

namespace
{

using benchsupport::elapsedUs;
using benchsupport::Figures;
using benchsupport::figures;

void print(const char* what, const Figures& f)
{
    std::printf("%-44s median %8.2f us   p99 %8.2f us\n", what, f.median, f.p99);
}

} // namespace

int main()
{
    using namespace quillon;
    camsimtest::CamsimRunner cam;
    PTZ::start();
    if (!testsupport::waitFor([] { return PTZ::socket(1) != nullptr; })) {
        std::fprintf(stderr, "no control socket proxy\n");
        return 1;
    }

    PtzClient client(1);
    client.create();
    DriverCheck check;
    for (int i = 0; i < 5 && !check.done(); ++i)
        check.step(client);

    // Interleaved so that both see the same load.
    constexpr int kRounds = 3000;
    std::vector<double> bareMove, clientMove, bareRead, clientRead;
    PositionRecord r;
    float pan, tilt, hfov, vfov, zoom, ps, ts;
    uint32_t status;
    for (int i = 0; i < kRounds; ++i) {
        double speed = (i % 2) * 0.01;
        bareMove.push_back(
            elapsedUs([&] { ptzlink_continuous_move(client.handle(), speed, 0, 0); }));
        clientMove.push_back(elapsedUs([&] { client.continuousMove(speed, 0, 0); }));
        std::int64_t t = g_get_monotonic_time() - 50'000;
        bareRead.push_back(elapsedUs([&] {
            ptzlink_get_datacache_value(client.handle(), t / 1000000, t % 1000000, &pan, &tilt,
                                        &status, &ps, &ts, &hfov, &vfov, &zoom);
        }));
        clientRead.push_back(elapsedUs([&] { client.readPosition(t, r); }));
    }
    client.continuousMove(0, 0, 0);
    Figures bm = figures(bareMove), cm = figures(clientMove), br = figures(bareRead),
            cr = figures(clientRead);
    print("continuous move, bare library", bm);
    print("continuous move, PtzClient", cm);
    print("data-cache read, bare library", br);
    print("data-cache read, PtzClient", cr);
    std::printf("PtzClient over the bare library: move %+.2f us, read %+.2f us (medians)\n",
                cm.median - bm.median, cr.median - br.median);

    std::vector<double> starts;
    for (int i = 0; i < 30; ++i) {
        PtzClient fresh(1);
        DriverCheck d;
        starts.push_back(elapsedUs([&] {
            fresh.create();
            while (!d.done())
                d.step(fresh);
        }));
        fresh.shutDown();
    }
    print("link start to driver check done", figures(starts));

    std::vector<double> comebacks;
    for (int i = 0; i < 3; ++i) {
        cam.kill();
        client.continuousMove(0, 0, 0); // notices the loss
        cam.start();
        comebacks.push_back(elapsedUs([&] {
            while (client.continuousMove(0, 0, 0) != 0)
                g_usleep(1000);
        }));
    }
    print("first accepted move after camsim is back", figures(comebacks));
    client.shutDown();
    PTZ::stop();
    return 0;
}
