// The tracker's cost per scene against camsim:
//  1. the detection strategy (trackerType 5): one 20-object detection
//     message folded into its store and its report scene built;
//  2. the Tracker's step on that report with a target: two data-cache reads
//     (capture time and now), the control law, the continuous move over the
//     control socket and the status snapshot;
//  3. the data-cache read alone (what the step waits on);
//  4. the quillon program following camsim's walker at 15 frames/s: CPU
//     share and resident memory from /proc.
// Usage: tracker_bench [seconds of the program run, default 30]
#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include "bench/support/latency_figures.h"
#include "camsim_runner.h"
#include "quillon/core/channel.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/motion/link/ptz_client.h"
#include "quillon/motion/presets/ptz_presets.h"
#include "quillon/tracking/strategies/strategy_factory.h"
#include "quillon/tracking/tracker/tracker.h"
#include "support/child_process.h"
#include "support/wait.h"

using namespace quillon;

namespace
{

using benchsupport::elapsedUs;
using benchsupport::Figures;
using benchsupport::figures;

void print(const char* what, const Figures& f)
{
    std::printf("%-52s median %8.1f us   p99 %8.1f us\n", what, f.median, f.p99);
}

// Hands the strategy's report to a function instead of a Tracker.
class Holder : public GenericTracker
{
public:
    Holder() : GenericTracker(1, nullptr, nullptr) {}
    void handleMessage(const std::shared_ptr<Message>&) override {}
    void prepareToShutdown() override {}
    bool hasObject(int id) override { return scene.findObject(id) != nullptr; }
    bool setTrackingObject(int id, bool) override { return scene.setTracked(id); }
    void unsetTrackingObject(bool) override { scene.setTracked(-1); }
    void step(std::int64_t timeUs)
    {
        scene.setSceneTime(timeUs);
        TrackerScene copy = scene.deepCopy();
        tracker->onScene(copy);
    }
    TrackerScene scene;
    Tracker* tracker = nullptr;
};

Polygon box(float x, float y, float w, float h)
{
    Polygon p;
    p.addPoint({x, y});
    p.addPoint({x, y + h});
    p.addPoint({x + w, y + h});
    p.addPoint({x + w, y});
    return p;
}

std::shared_ptr<VodSceneUpdateMessage> detections(std::int64_t timeUs, int frame)
{
    auto message = std::make_shared<VodSceneUpdateMessage>();
    message->sceneTimeUs = timeUs;
    message->subscription = 1;
    for (int i = 0; i < 20; ++i) {
        const float x = -0.9f + 0.08f * static_cast<float>(i) + 0.002f * static_cast<float>(frame);
        message->objects.emplace(
            i + 1, VodObject(i + 1, timeUs, box(x, -0.2f, 0.06f, 0.3f), 80, 40, 1, true, 1, true));
    }
    return message;
}

// utime + stime (clock ticks) and VmRSS (KiB) of a process.
std::pair<long, long> usage(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; fields >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stol(field);
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    long rss = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            rss = std::stol(line.substr(6));
    return {ticks, rss};
}

void programRun(int seconds)
{
    camsimtest::CamsimRunner cam(
        {"--feeds-scenario", std::string(SCENARIO_DIR) + "/long-drive.json"});
    cam.dir().write("root/etc/quillon/application.conf", R"({"service": {"active": true}})");
    cam.dir().write("root/etc/quillon/settings.conf", R"({"trackingParams": {"trackerType": 5}})");
    cam.dir().write(
        "root/etc/quillon/profiles.conf",
        R"({"profiles": [{"pt_polygon": [-90.0, -40.0, 90.0, -40.0, 90.0, 10.0, -90.0, 10.0],
                        "id": 1, "name": "Scene", "enabled": true, "preset": 1, "zoneType": 0}]})");
    testsupport::ChildProcess quillon(
        {QUILLON_BIN}, {{"CAMROOT", cam.root()}, {"FCGI_SOCKET_NAME", cam.root() + "/q.sock"}});
    if (!testsupport::waitFor(
            [&] {
                for (const auto& e : cam.control({{"cmd", "events-sent"}}))
                    if (e["data"].value("stateInfo", false))
                        return true;
                return false;
            },
            std::chrono::seconds(40))) {
        std::printf("program run: the camera never started following\n");
        return;
    }
    const auto [ticks0, rss0] = usage(quillon.pid());
    const auto t0 = std::chrono::steady_clock::now();
    long peak = rss0;
    for (int i = 0; i < seconds; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        peak = std::max(peak, usage(quillon.pid()).second);
    }
    const auto [ticks1, rss1] = usage(quillon.pid());
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu =
        static_cast<double>(ticks1 - ticks0) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::printf("program following at 15 fps for %.0f s: CPU %.2f %% of a core, RSS %ld KiB "
                "(peak %ld KiB, %.1f MiB)\n",
                wall, 100.0 * cpu / wall, rss1, peak, static_cast<double>(peak) / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    {
        camsimtest::CamsimRunner cam;
        setenv("CAMROOT", cam.root().c_str(), 1);
        PTZ::start();
        if (!testsupport::waitFor([] { return PTZ::socket(1) != nullptr; })) {
            std::fprintf(stderr, "no control socket proxy\n");
            return 1;
        }

        // 1. The strategy's fold and report (no Tracker behind it).
        constexpr int kRounds = 2000;
        std::vector<double> fold;
        if (auto strategy = makeDetectionStrategy(5, 1, nullptr, nullptr, false)) {
            std::int64_t t = g_get_monotonic_time();
            for (int i = 0; i < kRounds; ++i) {
                auto message = detections(t += 66'667, i);
                fold.push_back(elapsedUs([&] { strategy->handleMessage(message); }));
            }
            strategy->prepareToShutdown();
        }
        print("detection strategy: 20 objects folded, report built", figures(fold));

        // 2. The Tracker's step (this thread stands in for the bus thread:
        // the Tracker is not subscribed).
        auto holder = std::make_shared<Holder>();
        auto tracker = std::make_shared<Tracker>(false);
        holder->tracker = tracker.get();
        tracker->useStrategy(holder, kSourceDetection);
        for (int i = 0; i < 20; ++i) {
            auto object = std::make_shared<TrackingObject>();
            object->id = i + 1;
            object->shape = box(-0.9f + 0.08f * static_cast<float>(i), -0.2f, 0.06f, 0.3f);
            object->confidenceThreshold = 40;
            object->setConfidence(80);
            holder->scene.addObject(object, true);
        }
        for (int i = 0; i < 50 && !tracker->driverCheck().done(); ++i) {
            holder->step(g_get_monotonic_time() - 50'000);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        holder->step(g_get_monotonic_time() - 50'000);
        tracker->startTracking(15, -1);
        std::vector<double> steps, reads;
        PtzClient reader(1);
        reader.create();
        PositionRecord record;
        for (int i = 0; i < kRounds; ++i) {
            // The target drifts, so every step sends a new move.
            holder->scene.findObject(15)->shape =
                box(0.3f + 0.001f * static_cast<float>(i % 100), -0.2f, 0.06f, 0.3f);
            const std::int64_t t = g_get_monotonic_time() - 50'000;
            steps.push_back(elapsedUs([&] { holder->step(t); }));
            reads.push_back(elapsedUs([&] { reader.readPosition(t, record); }));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        print("Tracker step: 2 reads, law, move, snapshot", figures(steps));
        print("data-cache read alone", figures(reads));
        const Figures f = figures(fold), s = figures(steps);
        std::printf("%-52s median %8.1f us   (target <= 100 us)\n",
                    "detection message to continuous move", f.median + s.median);
        tracker->prepareToShutdown();
        reader.shutDown();
        PTZ::stop();
        unsetenv("CAMROOT");
    }
    // 4. The program as shipped.
    programRun(seconds);
    return 0;
}
