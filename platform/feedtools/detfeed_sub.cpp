// detfeed-sub: prints the frames of the camera's detection feed.
//
//   detfeed-sub [--channel N] [--count N] [--seconds S] [--raw DIR]
//               [--no-empty] [--resubscribe] [--info]
//
// One "frame" line per frame, followed by its "det" and "event" lines:
//   frame ts_ns=<capture time> recv_ns=<arrival, CLOCK_MONOTONIC> dets=<n> events=<n>
//   det id=<id> class=<class> score=<score> status=<status> left=.. top=.. right=.. bottom=..
//   event action=<delete|connect|N> object=<id> ids=<id,...>
// "teardown" when the feed goes away; with --resubscribe the tool then
// subscribes again every second until the camera is back ("subscribed").
#include <detfeed.h>
#include <fmt/format.h>

#include "tool_common.h"
#include "vod.pb-c.h"

using namespace feedtools;

namespace
{

CommonOptions opts;
std::atomic<long> received{0};
std::atomic<bool> tornDown{false};

void onDetection(const uint8_t* data, size_t length, void*)
{
    std::int64_t recv = monotonicNs();
    long index = ++received;
    if (!opts.raw.empty())
        writeRaw(opts.raw, "vod", index, data, length);
    VOD__Scene* scene = vod__scene__unpack(nullptr, length, data);
    if (scene == nullptr) {
        emit("undecodable frame\n");
        return;
    }
    std::string out = fmt::format("frame ts_ns={} recv_ns={} dets={} events={}\n", scene->timestamp,
                                  recv, scene->n_detections, scene->n_events);
    for (size_t i = 0; i < scene->n_detections; i++) {
        const VOD__Detection* d = scene->detections[i];
        out +=
            fmt::format("det id={} class={} score={} status={} left={:.4f} top={:.4f} right={:.4f} "
                        "bottom={:.4f}\n",
                        d->id, d->det_class, d->score, static_cast<int>(d->detection_status),
                        d->left, d->top, d->right, d->bottom);
    }
    for (size_t i = 0; i < scene->n_events; i++) {
        const VOD__Event* e = scene->events[i];
        std::string ids;
        for (size_t k = 0; k < e->n_object_ids; k++)
            ids += (k ? "," : "") + std::to_string(e->object_ids[k]);
        const char* action = e->action == VOD__EVENT_ACTION__EVENT_DELETE    ? "delete"
                             : e->action == VOD__EVENT_ACTION__EVENT_CONNECT ? "connect"
                                                                             : "unknown";
        out += fmt::format("event action={} object={} ids={}\n", action, e->object_id, ids);
    }
    vod__scene__free_unpacked(scene, nullptr);
    emit(out);
}

void onTeardown(void*)
{
    tornDown = true;
    emit("teardown\n");
}

int printInfo()
{
    detfeed_det_class** classes = nullptr;
    int n = detfeed_det_classes_get(&classes);
    if (n < 0) {
        std::fprintf(stderr, "detfeed-sub: cannot read the detector classes (%d)\n", n);
        return 1;
    }
    for (int i = 0; i < n; i++)
        emit(fmt::format("class id={} name={}\n", detfeed_det_class_id(classes[i]),
                         detfeed_det_class_name(classes[i])));
    detfeed_det_classes_free(classes, n);
    int channels = 0, simultaneous = 0;
    if (detfeed_get_nbr_channels(&channels) == 0 &&
        detfeed_get_nbr_channels_simultaneously(&simultaneous) == 0)
        emit(fmt::format("channels {} simultaneously {}\n", channels, simultaneous));
    return 0;
}

// Subscribes the way the daemon does: the detector's classes first, so that
// a camera that is not there is noticed before subscribing.
detfeed_subscriber* subscribe(bool empty)
{
    detfeed_det_class** classes = nullptr;
    int n = detfeed_det_classes_get(&classes);
    detfeed_det_classes_free(classes, n);
    if (n < 1)
        return nullptr;
    detfeed_subscriber* h = nullptr;
    if (detfeed_create(&h, nullptr, opts.channel, nullptr) != 0)
        return nullptr;
    detfeed_set_get_detection_callback(h, onDetection);
    detfeed_set_teardown_callback(h, onTeardown);
    detfeed_set_receive_empty_hits(h, empty ? 1 : 0);
    if (detfeed_subscribe(h) != 0) {
        detfeed_delete(&h);
        return nullptr;
    }
    return h;
}

} // namespace

int main(int argc, char** argv)
{
    bool empty = true, resubscribe = false, info = false;
    int bad = parseOptions(argc, argv, opts, [&](int i, int, char** av) {
        std::string a = av[i];
        if (a == "--no-empty")
            return (empty = false), 1;
        if (a == "--resubscribe")
            return (resubscribe = true), 1;
        if (a == "--info")
            return (info = true), 1;
        return 0;
    });
    if (bad != 0) {
        std::fprintf(stderr,
                     "usage: detfeed-sub [--channel N] [--count N] [--seconds S] [--raw DIR] "
                     "[--no-empty] [--resubscribe] [--info]\n");
        return 2;
    }
    if (opts.channel < 0)
        opts.channel = 0;
    installSignalHandlers();
    if (info)
        return printInfo();

    detfeed_subscriber* h = subscribe(empty);
    if (h == nullptr) {
        std::fprintf(stderr, "detfeed-sub: cannot subscribe\n");
        return 1;
    }
    emit("subscribed\n");
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        // Wake up for a teardown as well.
        while (!tornDown && !stopRequested()) {
            if (opts.count >= 0 && received >= opts.count)
                break;
            if (opts.seconds >= 0 &&
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >=
                    opts.seconds)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!tornDown || !resubscribe)
            break;
        // The feed went away: the subscription is dead, make a new one.
        detfeed_delete(&h);
        tornDown = false;
        while (h == nullptr && !stopRequested()) {
            if (opts.seconds >= 0 &&
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >=
                    opts.seconds)
                break;
            std::this_thread::sleep_for(std::chrono::seconds(1));
            h = subscribe(empty);
        }
        if (h == nullptr)
            break;
        emit("subscribed\n");
    }
    if (h != nullptr) {
        if (detfeed_running(h))
            detfeed_unsubscribe(h);
        detfeed_delete(&h);
    }
    return 0;
}
