// Detection feeds of camsim: CPU cost of rendering and serving 30 objects at
// 30 fps on all three feeds, and the jitter of frame delivery.
//
//   feeds_bench [seconds]     (default 20)
//
// Starts a private bus and camsim with a generated scenario, subscribes to
// the three feeds through the real stand-in libraries, and prints:
//   - the cost of rendering and encoding one frame in-process,
//   - camsim's CPU use with the feeds at work and with an empty scene,
//   - delivery delay against the scheduled time (capture + latency), as seen
//     by the subscribers and by camsim itself: median, 95th percentile, max.
#include <detfeed.h>
#include <mbx.h>
#include <scenefeed.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camsim_runner.h" // controlRequest
#include "encoders.h"
#include "feedwire.h"
#include "frame_engine.h"
#include "scene.pb-c.h"
#include "support/child_process.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"
#include "vod.pb-c.h"

namespace
{

using nlohmann::json;
using namespace camsim::feeds;

constexpr double kFps = 30.0;
constexpr double kLatencyMs = 100.0;

// 30 people walking back and forth in front of the camera, all in view.
std::string crowdScenario(int objects)
{
    json objs = json::array();
    for (int i = 0; i < objects; i++) {
        double y = 12.0 + (i % 6) * 3.0;
        double x0 = -6.0 + (i / 6) * 0.5;
        objs.push_back({{"name", "p" + std::to_string(i)},
                        {"class", i % 5 == 0 ? "car" : "human"},
                        {"path",
                         {{{"t", 0}, {"x", x0}, {"y", y}},
                          {{"t", 10}, {"x", x0 + 8}, {"y", y}},
                          {{"t", 20}, {"x", x0}, {"y", y}}}}});
    }
    json s = {{"name", "crowd"},
              {"camera", {{"height", 6}, {"pan", 0}, {"tilt", -12}, {"zoom", 1}}},
              {"detector",
               {{"fps", kFps},
                {"latency_ms", kLatencyMs},
                {"box_noise", 0.01},
                {"score", {{"noise", 3}}}}},
              {"objects", objs},
              {"duration", 20},
              {"loop", true}};
    return s.dump(2);
}

double cpuSeconds(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
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

// Share of one core used by pid over `seconds`.
double measureCpu(pid_t pid, double seconds)
{
    double c0 = cpuSeconds(pid);
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    double c1 = cpuSeconds(pid);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return (c1 - c0) / wall;
}

struct Delays {
    std::mutex m;
    std::vector<double> ms;
    std::vector<std::int64_t> arrivals;
    void add(std::int64_t captureNs)
    {
        std::int64_t now = feedwire_monotonic_ns();
        double d = static_cast<double>(now - captureNs) / 1e6 - kLatencyMs;
        std::lock_guard<std::mutex> lock(m);
        ms.push_back(d);
        arrivals.push_back(now);
    }
    void report(const char* name)
    {
        std::lock_guard<std::mutex> lock(m);
        if (ms.empty()) {
            std::printf("  %-10s no frames\n", name);
            return;
        }
        std::sort(ms.begin(), ms.end());
        auto at = [&](double p) {
            return ms[std::min(ms.size() - 1, static_cast<std::size_t>(p * ms.size()))];
        };
        std::printf(
            "  %-10s frames %6zu  delay past schedule: p50 %6.2f ms  p95 %6.2f ms  max %6.2f ms\n",
            name, ms.size(), at(0.5), at(0.95), ms.back());
        // Inter-arrival jitter: how far each interval is from the frame period.
        std::vector<double> jitter;
        for (std::size_t i = 1; i < arrivals.size(); i++)
            jitter.push_back(
                std::abs(static_cast<double>(arrivals[i] - arrivals[i - 1]) / 1e6 - 1000.0 / kFps));
        std::sort(jitter.begin(), jitter.end());
        if (!jitter.empty())
            std::printf("  %-10s interval jitter |interval - period|: p50 %6.2f ms  p95 %6.2f ms\n",
                        "", jitter[jitter.size() / 2],
                        jitter[std::min(jitter.size() - 1, jitter.size() * 95 / 100)]);
    }
};

Delays detDelays, sceneDelays, mbxDelays;

void benchRender(int objects)
{
    FrameEngine engine(parseScenario(crowdScenario(objects)));
    ViewPose pose{0.0, -12.0, 60.0, 34.0};
    const int frames = 3000;
    std::size_t bytes = 0, dets = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (int k = 0; k < frames; k++) {
        Frame f = engine.render(k / kFps, pose);
        dets += f.detections.size();
        bytes += encodeVodScene(f).size();
        bytes += encodeFramedScene(f, kSceneVelocity | kSceneBox | kSceneLowConfident).size();
        bytes += encodeAnalytics(f).size();
    }
    double us =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count() /
        frames;
    std::printf(
        "render + encode (3 feeds), %d objects: %.1f us per frame (%.1f detections, %zu bytes)\n",
        objects, us, static_cast<double>(dets) / frames, bytes / frames);
    std::printf("  => %.2f%% of a core at %.0f fps\n", us * kFps / 1e4, kFps);
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    benchRender(30);

    testsupport::TempDir dir("feedsbench");
    testsupport::PrivateBus bus(dir.path());
    std::string root = dir.path() + "/root";
    setenv("CAMROOT", root.c_str(), 1);
    dir.write("crowd.json", crowdScenario(30));
    dir.write("empty.json", R"({"name": "empty", "detector": {"fps": 30}})");

    // Baseline: camsim with an empty scene and nobody subscribed.
    {
        testsupport::ChildProcess camsim({CAMSIM_PATH, "--feeds-scenario", dir.file("empty.json")},
                                         {{"CAMROOT", root}});
        if (!camsim.waitForOutput("camsim ready", std::chrono::seconds(20))) {
            std::fprintf(stderr, "camsim did not start:\n%s\n", camsim.output().c_str());
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::printf("camsim, empty scene, no subscribers: %.2f%% of a core\n",
                    100.0 * measureCpu(camsim.pid(), std::min(seconds, 10.0)));
    }

    testsupport::ChildProcess camsim({CAMSIM_PATH, "--feeds-scenario", dir.file("crowd.json")},
                                     {{"CAMROOT", root}});
    if (!camsim.waitForOutput("camsim ready", std::chrono::seconds(20))) {
        std::fprintf(stderr, "camsim did not start:\n%s\n", camsim.output().c_str());
        return 1;
    }

    detfeed_subscriber* det = nullptr;
    detfeed_create(&det, nullptr, 0, nullptr);
    detfeed_set_get_detection_callback(det, [](const uint8_t* data, size_t len, void*) {
        VOD__Scene* s = vod__scene__unpack(nullptr, len, data);
        if (s != nullptr) {
            detDelays.add(static_cast<std::int64_t>(s->timestamp));
            vod__scene__free_unpacked(s, nullptr);
        }
    });
    detfeed_set_receive_empty_hits(det, 1);
    detfeed_subscribe(det);

    scenefeed_subscriber* scene = scenefeed_create(0, SCENEFEED_FORMAT_FRAMED_PROTOBUF, nullptr);
    scenefeed_set_on_message_arrived_callback(scene, [](uint8_t* buf) {
        Scene__Scene* s = scene__scene__unpack(nullptr, feedwire_get_u32(buf) - 4, buf + 4);
        if (s != nullptr) {
            sceneDelays.add(static_cast<std::int64_t>(s->time));
            scene__scene__free_unpacked(s, nullptr);
        }
        std::free(buf);
    });
    scenefeed_set_velocity_enabled(scene);
    scenefeed_set_bounding_box_enabled(scene);
    scenefeed_set_low_confident_enabled(scene);
    scenefeed_subscribe(scene);

    mbx_error* err = nullptr;
    mbx_connection* conn = mbx_connection_create(nullptr, nullptr, &err);
    mbx_subscriber_config* cfg = mbx_subscriber_config_create(
        "com.zeto.analytics_scene_description.v0.beta", "1",
        [](const mbx_message* m, void*) {
            const timespec* ts = mbx_message_get_timestamp(m);
            mbxDelays.add(static_cast<std::int64_t>(ts->tv_sec) * 1000000000 + ts->tv_nsec);
        },
        nullptr, &err);
    mbx_subscriber* sub = mbx_subscriber_create_async(conn, cfg, nullptr, nullptr, &err);
    mbx_subscriber_config_destroy(&cfg);

    std::this_thread::sleep_for(std::chrono::seconds(1));
    double cpu = measureCpu(camsim.pid(), seconds);
    std::printf("camsim, 30 objects at 30 fps, 3 feeds subscribed: %.2f%% of a core over %.0f s\n",
                100.0 * cpu, seconds);
    std::printf("delivery (subscriber clock, CLOCK_MONOTONIC):\n");
    detDelays.report("detection");
    sceneDelays.report("scene");
    mbxDelays.report("analytics");
    json status =
        camsimtest::controlRequest(root + "/run/camsim/control", {{"cmd", "feeds-status"}});
    const json& r = status["result"];
    std::printf("camsim's own view: frames %llu, skipped %llu, delay p50 %.2f ms, p95 %.2f ms, max "
                "%.2f ms\n",
                r.value("frames", 0ULL), r.value("skipped", 0ULL),
                r.value("delay_p50_us", 0) / 1000.0, r.value("delay_p95_us", 0) / 1000.0,
                r.value("delay_max_us", 0) / 1000.0);

    mbx_subscriber_destroy(&sub);
    mbx_connection_destroy(&conn);
    scenefeed_delete(scene);
    detfeed_delete(&det);
    return 0;
}
