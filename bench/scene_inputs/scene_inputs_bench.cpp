// Scene-feed, analytics and fused-strategy figures:
//
//   scene_inputs_bench [minutes]   (default 10: simulated minutes of the
//                                   memory run, not wall time)
//
// - a 30-object framed scene message decoded into KineObjects and posted on
//   a bus;
// - a 30-observation analytics payload parsed into a scene;
// - a FusionTracker scene-engine step with 30 scene-engine and 30 detection
//   objects;
// - a FusionTracker2 scene-engine step with a full detection history;
// - FusionTracker2 fed 30 objects at 30 fps for the given simulated minutes:
//   resident memory after the first minute and at the end.
// Each timing is the median and 99th percentile of single calls, in CPU time
// of the calling thread (the shared build machine preempts often; wall-clock
// medians are printed beside them).
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "kine_frames.h"
#include "quillon/core/channel.h"
#include "quillon/inputs/fusion/fusion_classes.h"
#include "quillon/inputs/fusion/fusion_payload.h"
#include "quillon/inputs/kine/kine_client.h"
#include "quillon/inputs/kine/kine_scene_update_message.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/tracking/strategies/fusion_tracker.h"
#include "quillon/tracking/strategies/fusion_tracker2.h"

namespace
{

using namespace quillon;
using Clock = std::chrono::steady_clock;

constexpr int kObjects = 30;
constexpr std::int64_t kFrameUs = 33333;

double threadCpuUs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

struct Timings {
    std::vector<double> cpu;
    std::vector<double> wall;
};

double percentile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(static_cast<double>(v.size() - 1) * q)];
}

void report(const char* what, const Timings& t, double target)
{
    const double median = percentile(t.cpu, 0.5);
    std::printf("%-54s cpu median %7.2f us p99 %8.2f us, wall median %7.2f us (target <= %.0f "
                "us) %s\n",
                what, median, percentile(t.cpu, 0.99), percentile(t.wall, 0.5), target,
                median <= target ? "ok" : "MISSED");
}

Timings timeEach(int n, const std::function<void(int)>& setup, const std::function<void(int)>& call)
{
    Timings out;
    for (int i = 0; i < n; i++) {
        setup(i);
        const double c0 = threadCpuUs();
        const auto t0 = Clock::now();
        call(i);
        out.wall.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        out.cpu.push_back(threadCpuUs() - c0);
    }
    return out;
}

// Object k at frame f: spread across the picture, drifting right.
Polygon boxOf(int k, int f)
{
    const float x = -0.9f + 0.06f * static_cast<float>(k) + 0.0005f * static_cast<float>(f % 200);
    const float y = (k % 2 == 0) ? -0.3f : 0.2f;
    return Polygon::box(x, x + 0.05f, y, y + 0.2f);
}

KineSceneUpdate kineScene(std::int64_t t, int f, int idBase = 0)
{
    KineSceneUpdate u;
    u.sceneTimeUs = t;
    for (int k = 0; k < kObjects; k++) {
        KineObject o;
        o.source = kSourceScene;
        o.id = idBase + k;
        o.confidenceThreshold = 1;
        o.setConfidence(1);
        o.shape = boxOf(k, f);
        o.velocityX = 0.02f;
        o.setTime(t);
        o.setMoving(true);
        u.objects.push_back(o);
    }
    return u;
}

VodSceneUpdateMessage detScene(std::int64_t t, int f, int idBase = 100)
{
    VodSceneUpdateMessage m;
    m.sceneTimeUs = t;
    m.subscription = 1;
    for (int k = 0; k < kObjects; k++)
        m.objects.emplace(idBase + k, VodObject(idBase + k, t, boxOf(k, f), 80, 40, 0, true,
                                                kVodTrackedConfident, true));
    return m;
}

std::string analyticsPayload()
{
    nlohmann::json list = nlohmann::json::array();
    for (int k = 0; k < kObjects; k++)
        list.push_back(
            {{"track_id", std::to_string(k + 1)},
             {"class", {{"type", k % 3 == 0 ? "Car" : "Human"}, {"score", 0.87}}},
             {"bounding_box",
              {{"left", 0.03 * k}, {"right", 0.03 * k + 0.05}, {"top", 0.4}, {"bottom", 0.6}}}});
    return nlohmann::json{{"frame", {{"observations", list}}}}.dump();
}

long residentKiB()
{
    std::ifstream in("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    in >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace

int main(int argc, char** argv)
{
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 10;
    setenv("QUILLON_LOG_STDERR", "", 1);
    const int n = 20000;

    {
        Channel bus;
        std::vector<kinetest::ObjectSpec> specs(kObjects);
        for (int k = 0; k < kObjects; k++)
            specs[static_cast<std::size_t>(k)].id = static_cast<std::uint32_t>(k + 1);
        const std::vector<std::uint8_t> framed = kinetest::framedScene(123456789000ull, specs);
        report("scene message (30 objects) -> posted KineObjects",
               timeEach(
                   n, [](int) {},
                   [&](int) { bus.post(KineClient::decode(framed.data(), framed.size())); }),
               20);
        bus.stop();
    }
    {
        const std::string payload = analyticsPayload();
        const FusionClassTable classes = makeFusionClassTable();
        report("analytics payload (30 observations) -> scene",
               timeEach(
                   n, [](int) {},
                   [&](int) {
                       TrackerScene scene;
                       parseFusionPayload(payload, 1, 0, classes, scene);
                   }),
               60);
    }
    SceneFeeds feeds;
    feeds.startClients = false;
    {
        FusionTracker t(1, nullptr, nullptr, feeds);
        for (int f = 0; f < 10; f++) {
            t.detectionStep(detScene(f * kFrameUs, f));
            t.kineStep(kineScene(f * kFrameUs, f));
        }
        std::int64_t f = 10;
        report("FusionTracker step (30 scene-engine + 30 detections)",
               timeEach(
                   n, [&](int) { t.detectionStep(detScene(f * kFrameUs, static_cast<int>(f))); },
                   [&](int) {
                       t.kineStep(kineScene(f * kFrameUs, static_cast<int>(f)));
                       f++;
                   }),
               50);
    }
    {
        FusionTracker2 t(1, nullptr, nullptr, feeds);
        std::int64_t f = 0;
        for (; f < 90; f++) {
            t.detectionStep(detScene(f * kFrameUs, static_cast<int>(f)));
            t.kineStep(kineScene(f * kFrameUs, static_cast<int>(f)));
        }
        std::printf("FusionTracker2 history: %zu frames, %zu pairs\n", t.history().size(),
                    t.pairs().size());
        report("FusionTracker2 step (30 + 30, full history)",
               timeEach(
                   n / 4,
                   [&](int) { t.detectionStep(detScene(f * kFrameUs, static_cast<int>(f))); },
                   [&](int) {
                       t.kineStep(kineScene(f * kFrameUs, static_cast<int>(f)));
                       f++;
                   }),
               100);
    }
    if (minutes > 1) {
        // Ids turn over every 300 frames (10 s), as people come and go.
        FusionTracker2 t(1, nullptr, nullptr, feeds);
        const long frames = static_cast<long>(minutes) * 60 * 30;
        long afterMinute = 0;
        for (long f = 0; f < frames; f++) {
            const int base = static_cast<int>(f / 300) * kObjects;
            t.detectionStep(detScene(f * kFrameUs, static_cast<int>(f), 100000 + base));
            t.kineStep(kineScene(f * kFrameUs, static_cast<int>(f), base));
            if (f == 30 * 60) {
                malloc_trim(0);
                afterMinute = residentKiB();
            }
        }
        malloc_trim(0);
        const long end = residentKiB();
        std::printf("FusionTracker2 %d simulated min at 30 fps: RSS %ld KiB after 1 min, %ld KiB "
                    "at the end (%+ld KiB; target within 512) %s\n",
                    minutes, afterMinute, end, end - afterMinute,
                    std::labs(end - afterMinute) <= 512 ? "ok" : "MISSED");
    }
    return 0;
}
