// quillon's events and presets, with camsim on a private bus.
//
//   quillon_events_bench [--benchmark_...]
//
// Google Benchmark cases time what runs on the caller (declaration argument,
// a sending set(), a 4 KiB streamObjects frame, DeclareEvent, socket(1)); the
// figures printed after them are end-to-end: SendEvent to the subscriber's
// NotifyEvent (median, p99, a paced 2,000 events/s run), PresetAdded to
// presets(), discovery of 4 channels with 100 presets, the heap of a started
// zone handler and the wake-ups of an idle process; a control event sent with
// camsim's send-event to its message on quillon's bus (through the event
// listener); streamObjects frames at 15 fps with 10 objects, from the bus
// message to camsim taking the event.
#include <dirent.h>
#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "events_fixture.h"
#include "quillon/config/settings/runtime_commands.h"
#include "quillon/core/channel.h"
#include "quillon/events/confirmation/status_text.h"
#include "quillon/events/confirmation/visual_confirmation_handler.h"
#include "quillon/events/dbus/dbus_proxy.h"
#include "quillon/events/listener/event_listener.h"
#include "quillon/events/producer/event_declaration.h"
#include "quillon/events/producer/event_producer.h"
#include "quillon/events/producer/state_event_handler.h"
#include "quillon/events/producer/stream_objects_event.h"
#include "quillon/events/producer/zone_profile_event_handler.h"
#include "quillon/motion/presets/ptz_presets.h"
#include "quillon/tracking/tracker/analyzed_video_message.h"

using namespace quillon;

namespace
{

eventstest::CamsimEvents* events = nullptr;

const char* kStateTopic =
    "tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutotrackingState(Quillon: Is tracking)";
const char* kStateKeys = "stateInfo[b]{property-state}{onvif-data},channel[i]{onvif-source}";

void BM_StateDeclarationArgument(benchmark::State& state)
{
    for (auto _ : state) {
        GVariant* v = g_variant_ref_sink(generateEventDeclaration(kStateTopic, kStateKeys, false));
        benchmark::DoNotOptimize(v);
        g_variant_unref(v);
    }
}
BENCHMARK(BM_StateDeclarationArgument);

void BM_StateSetSends(benchmark::State& state)
{
    AutotrackingStateEventHandler handler;
    handler.start();
    bool value = false;
    for (auto _ : state) {
        value = !value;
        handler.setState(value, 1, g_get_monotonic_time());
    }
}
BENCHMARK(BM_StateSetSends);

void BM_StreamObjects4KiB(benchmark::State& state)
{
    StreamObjectsEvent stream;
    stream.start();
    std::string frame(4096, 'x');
    for (auto _ : state)
        stream.send(frame, g_get_monotonic_time());
}
BENCHMARK(BM_StreamObjects4KiB);

void BM_DeclareEvent(benchmark::State& state)
{
    EventProducer producer;
    for (auto _ : state) {
        int32_t id = producer.declare(kStateTopic, kStateKeys, false);
        if (id < 0) {
            state.SkipWithError("declaration failed");
            break;
        }
        state.PauseTiming();
        producer.undeclare(id);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DeclareEvent);

void BM_SocketLookup(benchmark::State& state)
{
    for (auto _ : state) {
        auto s = PTZ::socket(1);
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_SocketLookup);

// A scene as the tracker reports it: `objects` objects (one tracked, one
// left out of the report) and `zones` zones of 6 points.
std::shared_ptr<AnalyzedVideoMessage> analysedScene(int objects, int zones)
{
    auto m = std::make_shared<AnalyzedVideoMessage>();
    m->trackerEnabled = true;
    m->zoomMag = 3.25f;
    m->latestResult = 1;
    for (int i = 0; i < objects; ++i) {
        auto o = std::make_shared<TrackingObject>();
        o->id = 100 + i;
        o->source = kSourceDetection;
        o->flags = (i == 0 ? kFlagTracked : 0) | (i == 1 ? 0 : kFlagReported);
        o->confident = true;
        o->moving = i % 2 == 0;
        o->typeName = "person";
        float x = -0.9f + 0.085f * i;
        o->shape = Polygon::box(x, x + 0.1f, -0.3f, 0.2f);
        m->objects.push_back(o);
    }
    for (int i = 0; i < zones; ++i)
        m->zones.push_back({i + 1, 0, i % 2 == 0,
                            Polygon({{0.1f, 0.1f},
                                     {0.4f, 0.12f},
                                     {0.5f, 0.3f},
                                     {0.45f, 0.6f},
                                     {0.2f, 0.55f},
                                     {0.05f, 0.3f}})});
    return m;
}

void BM_StatusText20Objects8Zones(benchmark::State& state)
{
    auto scene = analysedScene(20, 8);
    for (auto _ : state) {
        std::string text = statusText(*scene, state.range(0) != 0);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_StatusText20Objects8Zones)->Arg(0)->Arg(1)->ArgName("debug");

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()))];
}

// NotifyEvent arrival times (µs, monotonic) on quillon's D-Bus thread.
struct Arrivals {
    std::mutex lock;
    std::vector<int64_t> times;
    static void on(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                   GVariant*, gpointer data)
    {
        auto* self = static_cast<Arrivals*>(data);
        int64_t now = g_get_monotonic_time();
        std::lock_guard<std::mutex> guard(self->lock);
        self->times.push_back(now);
    }
    std::size_t count()
    {
        std::lock_guard<std::mutex> guard(lock);
        return times.size();
    }
};

void notifyFigures()
{
    Arrivals arrivals;
    DBusProxy consumer("com.zeto.EventConsumerd1", "/com/zeto/EventConsumerd1",
                       "com.zeto.EventConsumerd1");
    consumer.subscribeSignal("NotifyEvent", "com.zeto.EventConsumerd1", Arrivals::on, &arrivals);
    GVariant* r = consumer.callSync(
        "Subscribe",
        generateEventSubscription("tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutotrackingState", ""));
    if (r != nullptr)
        g_variant_unref(r);
    EventProducer producer;
    int32_t id = producer.declare(kStateTopic, kStateKeys, false);

    std::vector<double> latencies;
    for (int i = 0; i < 500; ++i) {
        std::size_t before = arrivals.count();
        int64_t sent = g_get_monotonic_time();
        producer.sendValues(id, {{"stateInfo", g_variant_new_boolean(i % 2)}}, sent);
        if (!testsupport::waitFor([&] { return arrivals.count() > before; }))
            break;
        std::lock_guard<std::mutex> guard(arrivals.lock);
        latencies.push_back(static_cast<double>(arrivals.times.back() - sent));
    }
    std::printf("SendEvent to NotifyEvent: median %.0f us, p99 %.0f us (%zu events)\n",
                percentile(latencies, 0.5), percentile(latencies, 0.99), latencies.size());

    // 2,000 events/s for 2 s, paced.
    std::size_t before = arrivals.count();
    const int n = 4000;
    int64_t start = g_get_monotonic_time();
    for (int i = 0; i < n; ++i) {
        while (g_get_monotonic_time() < start + i * 500)
            ;
        producer.sendValues(id, {{"stateInfo", g_variant_new_boolean(i % 2)}}, g_get_real_time());
    }
    testsupport::waitFor([&] { return arrivals.count() >= before + n; });
    std::printf("2,000 events/s for 2 s: %zu of %d delivered\n", arrivals.count() - before, n);
    producer.undeclare(id);
}

// Bus thread: when each auto-triggers message arrived.
class TriggerArrivals : public MessageReceiver
{
public:
    void handleMessage(const std::shared_ptr<Message>& message) override
    {
        if (std::dynamic_pointer_cast<TrackerSettingsMessage<auto_tracking_state_t>>(message)) {
            int64_t now = g_get_monotonic_time();
            std::lock_guard<std::mutex> guard(lock);
            times.push_back(now);
        }
    }
    void prepareToShutdown() override {}
    std::size_t count()
    {
        std::lock_guard<std::mutex> guard(lock);
        return times.size();
    }
    std::mutex lock;
    std::vector<int64_t> times;
};

void listenerFigures()
{
    auto listener = std::make_shared<EventListener>();
    auto arrivals = std::make_shared<TriggerArrivals>();
    Channel::instance().subscribe(arrivals);
    const std::string topic = "tnszeto:Plinth/tnszeto:Quillon/tnszeto:SetAutoTriggers";
    std::vector<double> fromHub, fromRequest;
    for (int i = 0; i < 400; ++i) {
        std::size_t before = arrivals->count();
        int64_t start = g_get_monotonic_time();
        events->camsim.control({{"cmd", "send-event"},
                                {"topic", topic},
                                {"data", {{"setAutoTriggers", i % 2 ? "1" : "0"}}}});
        if (!testsupport::waitFor([&] { return arrivals->count() > before; }))
            break;
        int64_t arrived = 0;
        {
            std::lock_guard<std::mutex> guard(arrivals->lock);
            arrived = arrivals->times.back();
        }
        fromRequest.push_back(static_cast<double>(arrived - start));
        auto sent = events->sent();
        if (!sent.empty() && sent.back().value("topic", "") == topic)
            fromHub.push_back(static_cast<double>(arrived - sent.back().value("received", 0LL)));
    }
    std::printf("send-event to the message on quillon's bus (from camsim taking the event): "
                "median %.0f us, p99 %.0f us (%zu events)\n",
                percentile(fromHub, 0.5), percentile(fromHub, 0.99), fromHub.size());
    std::printf("  the same from the start of the control request: median %.0f us, p99 %.0f us\n",
                percentile(fromRequest, 0.5), percentile(fromRequest, 0.99));
    Channel::instance().unsubscribe(arrivals);
    listener->prepareToShutdown();
}

// Frames posted on the bus at 15 fps with 10 objects for 10 s; each
// streamObjects event from the frame's time (its posting) to camsim taking
// it.
void frameFigures()
{
    auto handler = std::make_shared<VisualConfirmationHandler>(false);
    Channel::instance().subscribe(handler);
    const int frames = 150;
    std::vector<int64_t> posted;
    int64_t start = g_get_monotonic_time();
    for (int i = 0; i < frames; ++i) {
        while (g_get_monotonic_time() < start + i * 66667)
            g_usleep(500);
        auto scene = analysedScene(10, 2);
        scene->sceneTimeUs = g_get_monotonic_time();
        posted.push_back(scene->sceneTimeUs);
        Channel::instance().post(std::make_unique<AnalyzedVideoMessage>(*scene));
    }
    std::vector<double> latencies;
    testsupport::waitFor([&] {
        std::size_t n = 0;
        for (const auto& s : events->sent())
            n += s.value("topic", "").find("streamObjects") != std::string::npos;
        return n >= static_cast<std::size_t>(frames);
    });
    std::size_t next = 0;
    for (const auto& s : events->sent()) {
        if (s.value("topic", "").find("streamObjects") == std::string::npos ||
            next >= posted.size())
            continue;
        latencies.push_back(static_cast<double>(s.value("received", 0LL) - posted[next++]));
    }
    std::printf("frame on the bus to streamObjects taken by camsim, 15 fps, 10 objects: median "
                "%.0f us, p95 %.0f us, max %.0f us (%zu frames)\n",
                percentile(latencies, 0.5), percentile(latencies, 0.95), percentile(latencies, 1.0),
                latencies.size());
    Channel::instance().unsubscribe(handler);
    handler->prepareToShutdown();
}

void presetFigures()
{
    auto handler = PTZ::presetHandler(1);
    std::vector<double> latencies;
    for (uint32_t number = 200; number < 260; ++number) {
        int64_t start = g_get_monotonic_time();
        events->camsim.control({{"cmd", "preset-add"}, {"number", number}, {"name", "p"}});
        bool seen = testsupport::waitFor([&] {
            auto list = handler->presets();
            return std::any_of(list.begin(), list.end(),
                               [&](const PTZ::Preset& p) { return p.number == number; });
        });
        if (seen)
            latencies.push_back(static_cast<double>(g_get_monotonic_time() - start));
    }
    std::printf("preset-add (control request, PresetAdded) to presets(): median %.0f us "
                "(%zu presets)\n",
                percentile(latencies, 0.5), latencies.size());
}

void discoveryFigures()
{
    std::vector<double> times;
    for (int round = 0; round < 10; ++round) {
        PTZ::stop();
        int64_t start = g_get_monotonic_time();
        PTZ::start();
        testsupport::waitFor([] { return PTZ::discoveries() >= 1; });
        times.push_back(static_cast<double>(g_get_monotonic_time() - start));
    }
    std::printf("start() to 4 channels and %zu presets discovered: median %.1f ms\n",
                PTZ::presetHandler(1)->presets().size(), percentile(times, 0.5) / 1000.0);
}

void zoneHandlerMemory()
{
    auto warm = std::make_unique<ZoneProfileEventHandler>(1, "warm", false);
    warm->start();
    std::size_t before = mallinfo2().uordblks;
    auto handler = std::make_unique<ZoneProfileEventHandler>(2, "Entrance", false);
    handler->start();
    std::size_t after = mallinfo2().uordblks;
    std::printf("started zone handler: %.1f KiB of heap\n", (after - before) / 1024.0);
}

// Voluntary and involuntary context switches of all threads of this process.
long switches()
{
    long total = 0;
    DIR* dir = opendir("/proc/self/task");
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.find("ctxt_switches:") != std::string::npos)
                total += std::stol(line.substr(line.find(':') + 1));
    }
    closedir(dir);
    return total;
}

void idleFigures()
{
    AutotrackingStateEventHandler state;
    state.start();
    g_usleep(500000);
    long s0 = switches();
    g_usleep(5000000);
    long s1 = switches();
    std::printf("idle for 5 s (PTZ thread, D-Bus thread, a started handler): %ld context "
                "switches (the sampling thread's sleeps included)\n",
                s1 - s0);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    // One heap for all threads, so mallinfo2() sees what the D-Bus thread
    // allocates for a handler.
    mallopt(M_ARENA_MAX, 1);
    setenv("G_SLICE", "always-malloc", 1); // GLib's slices counted as well
    eventstest::CamsimEvents cam({"--channels", "4"});
    events = &cam;
    for (uint32_t number = 1; number <= 100; ++number)
        cam.camsim.control({{"cmd", "preset-add"}, {"number", number}, {"name", "preset"}});
    PTZ::start();
    testsupport::waitFor([] { return PTZ::discoveries() >= 1; });

    benchmark::RunSpecifiedBenchmarks();
    notifyFigures();
    listenerFigures();
    frameFigures();
    presetFigures();
    discoveryFigures();
    zoneHandlerMemory();
    idleFigures();
    PTZ::stop();
    benchmark::Shutdown();
    return 0;
}
