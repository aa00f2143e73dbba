// Detection-feed client figures:
//
//   quillon_inputs_bench [seconds]     (default 20; 600 for the RSS check)
//
// - decode of a 20-detection frame into its message, and the fold of that
//   message into a store of the same 20 objects with full histories (median,
//   99th percentile, in-process);
// - heap per stored VodObject with a full history;
// - through camsim (private bus, 15 fps, 20 objects, real libdetfeed): time
//   from capture to the updated store minus the detector's scheduled latency,
//   camsim's own delivery lateness, CPU of this client process and its RSS at
//   the start and the end of the run.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <vector>

#include "camsim_runner.h"
#include "feeds_fixture.h"
#include "quillon/core/channel.h"
#include "quillon/inputs/vod/vod_client.h"
#include "quillon/inputs/vod/vod_object_class_settings.h"
#include "quillon/inputs/vod/vod_position_source.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/inputs/vod/vod_storage_update.h"
#include "quillon/tracking/detections/vod_scene_holder.h"
#include "vod_frames.h"

namespace
{

using namespace quillon;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kObjects = 20;
constexpr double kLatencyMs = 100.0;

class LinearCamera : public VodPositionSource
{
public:
    bool positionAt(std::int64_t, PositionRecord& p) override
    {
        p.pan = 10.0f;
        p.tilt = -10.0f;
        p.horizontalFov = 60.0f;
        p.verticalFov = 34.0f;
        return true;
    }
    bool screenToPanTilt(Point s, const PositionRecord& p, Point& out) override
    {
        out = {p.pan + s.x * p.horizontalFov / 2, p.tilt + s.y * p.verticalFov / 2};
        return true;
    }
};

std::vector<std::uint8_t> frame(std::uint64_t timestampNs, float shift)
{
    std::vector<vodtest::Det> dets;
    for (int i = 0; i < kObjects; i++) {
        float u = -0.9f + 0.09f * static_cast<float>(i) + shift;
        dets.push_back({u, 0.3f, u + 0.05f, -0.1f, static_cast<std::uint32_t>(i + 1),
                        i % 5 == 0 ? 1u : 0u, 85, 2});
    }
    return vodtest::sceneBytes(timestampNs, dets);
}

struct Summary {
    double median = 0, p99 = 0, max = 0;
};

Summary summarise(std::vector<double> v)
{
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    auto at = [&](double p) {
        return v[std::min(v.size() - 1,
                          static_cast<std::size_t>(p * static_cast<double>(v.size())))];
    };
    return {at(0.5), at(0.99), v.back()};
}

double microsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

void inProcess()
{
    Channel bus;
    VodClient client(1, bus);
    client.setObjectClasses(
        {{0, {0, "human", 40, true, true}}, {1, {1, "vehicle", 45, false, true}}});
    LinearCamera camera;
    TrackerScene scene;
    std::vector<double> decode, fold, both;
    const int warm = 30, runs = 20000;
    for (int i = 0; i < warm + runs; i++) {
        std::int64_t tNs = 1000000000LL + static_cast<std::int64_t>(i) * 66666667LL;
        std::vector<std::uint8_t> bytes =
            frame(static_cast<std::uint64_t>(tNs), 0.002f * static_cast<float>(i % 50));
        auto t0 = Clock::now();
        VodSceneRecord record;
        decodeVodScene(bytes.data(), bytes.size(), record);
        std::unique_ptr<VodSceneUpdateMessage> message = client.buildMessage(record);
        double d = microsSince(t0);
        auto t1 = Clock::now();
        scene = updateVodStorage(scene, *message, &camera);
        double f = microsSince(t1);
        if (i >= warm) {
            decode.push_back(d);
            fold.push_back(f);
            both.push_back(d + f);
        }
    }
    Summary sd = summarise(decode), sf = summarise(fold), sb = summarise(both);
    std::printf(
        "decode 20 detections -> message: median %.1f us, p99 %.1f us  (target median <= 15)\n",
        sd.median, sd.p99);
    std::printf("fold into store of 20 (full histories): median %.1f us, p99 %.1f us  (target "
                "median <= 25)\n",
                sf.median, sf.p99);
    std::printf("both: median %.1f us, p99 %.1f us  (target p99 <= 100)\n", sb.median, sb.p99);
    std::size_t history = 0;
    for (const auto& o : scene.objects)
        history += dynamic_cast<VodObject&>(*o).history().size();
    std::printf("  (store: %zu objects, %zu history samples)\n", scene.objects.size(), history);

    // Heap per stored object with a full history.
    const int copies = 2000;
    std::vector<std::shared_ptr<TrackingObject>> kept;
    kept.reserve(copies);
    malloc_trim(0);
    std::size_t before = mallinfo2().uordblks;
    for (int i = 0; i < copies; i++)
        kept.push_back(scene.objects[static_cast<std::size_t>(i % kObjects)]->clone());
    std::size_t after = mallinfo2().uordblks;
    std::printf("heap per stored VodObject with %zu samples: %.0f bytes  (target <= 2048; "
                "sizeof %zu, sample %zu)\n",
                VodObject::kMaxHistory, static_cast<double>(after - before) / copies,
                sizeof(VodObject), sizeof(VodHistorySample));
}

std::string crowdScenario()
{
    json objs = json::array();
    for (int i = 0; i < kObjects; i++) {
        double y = 12.0 + (i % 5) * 3.0;
        double x0 = -6.0 + (i / 5) * 1.0;
        objs.push_back({{"name", "p" + std::to_string(i)},
                        {"class", i % 5 == 0 ? "car" : "human"},
                        {"path",
                         {{{"t", 0}, {"x", x0}, {"y", y}},
                          {{"t", 10}, {"x", x0 + 6}, {"y", y}},
                          {{"t", 20}, {"x", x0}, {"y", y}}}}});
    }
    json s = {{"name", "crowd20"},
              {"camera", {{"height", 6}, {"pan", 0}, {"tilt", -12}, {"zoom", 1}}},
              {"detector", {{"fps", 15}, {"latency_ms", kLatencyMs}, {"box_noise", 0.01}}},
              {"objects", objs},
              {"duration", 20},
              {"loop", true}};
    return s.dump();
}

double cpuSeconds()
{
    std::ifstream f("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(f)), {});
    std::istringstream in(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; i++) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long rssKiB()
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// Subscribed after the holder: sees each frame once the store holds it.
class Probe : public MessageReceiver
{
public:
    void handleMessage(const std::shared_ptr<Message>& message) override
    {
        auto m = std::dynamic_pointer_cast<VodSceneUpdateMessage>(message);
        if (!m)
            return;
        double us = static_cast<double>(monotonicNowUs() - m->sceneTimeUs) - kLatencyMs * 1000.0;
        std::lock_guard<std::mutex> guard(lock);
        if (record)
            samples.push_back(us);
    }
    void prepareToShutdown() override {}

    std::mutex lock;
    std::vector<double> samples;
    bool record = false;
};

void throughCamsim(double seconds)
{
    feedstest::CamsimFeeds cam(crowdScenario());
    Channel bus;
    auto holder = std::make_shared<VodSceneHolder>(1, false, bus, kVodObjectClassFile);
    holder->setPositionSource(std::make_shared<LinearCamera>());
    auto probe = std::make_shared<Probe>();
    bus.subscribe(holder);
    bus.subscribe(probe);
    holder->start();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    {
        std::lock_guard<std::mutex> guard(probe->lock);
        probe->record = true;
    }
    camsimtest::controlRequest(cam.root() + "/run/camsim/control", {{"cmd", "feeds-status"}});
    const long rss0 = rssKiB();
    const double cpu0 = cpuSeconds();
    auto t0 = Clock::now();
    long rssMid = 0;
    while (std::chrono::duration<double>(Clock::now() - t0).count() < seconds) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (rssMid == 0 && std::chrono::duration<double>(Clock::now() - t0).count() > seconds / 2)
            rssMid = rssKiB();
    }
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = (cpuSeconds() - cpu0) / wall;
    const long rss1 = rssKiB();
    json status =
        camsimtest::controlRequest(cam.root() + "/run/camsim/control", {{"cmd", "feeds-status"}});
    holder->stop();
    bus.stop();
    std::vector<double> samples;
    {
        std::lock_guard<std::mutex> guard(probe->lock);
        samples = probe->samples;
    }
    Summary s = summarise(samples);
    const json& data = status.contains("result") ? status["result"] : status;
    std::printf("via camsim, 15 fps, %d objects, %.0f s, %zu frames:\n", kObjects, wall,
                samples.size());
    std::printf("  capture -> store updated, beyond the %.0f ms detector latency: median %.2f ms, "
                "p99 %.2f ms, max %.2f ms  (target median <= 1, p99 <= 5)\n",
                kLatencyMs, s.median / 1000, s.p99 / 1000, s.max / 1000);
    std::printf("  of which camsim's own delivery lateness: median %.2f ms, p95 %.2f ms\n",
                data.value("delay_p50_us", 0) / 1000.0, data.value("delay_p95_us", 0) / 1000.0);
    std::printf("  client process CPU: %.2f %% of a core  (target < 1 %%)\n", cpu * 100.0);
    std::printf("  client RSS: %ld KiB at start, %ld KiB half-way, %ld KiB at the end\n", rss0,
                rssMid, rss1);
    std::printf("  store: %zu objects\n", holder->snapshot().objects.size());
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    inProcess();
    throughCamsim(seconds);
    return 0;
}
