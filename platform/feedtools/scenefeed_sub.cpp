// scenefeed-sub: prints the messages of the camera's scene feed.
//
//   scenefeed-sub [--channel N] [--count N] [--seconds S] [--raw DIR]
//                 [--no-reconnect] [--high-confidence-only]
//
// "connected" / "disconnected" as the feed comes and goes (the library
// reconnects by itself unless --no-reconnect), then per message:
//   scene length=<length word> time_ns=<ns|none> real_ns=<ns|none> recv_ns=<ns> objects=<n>
//   events=<n> object id=<id> confidence=<c> left=.. top=.. right=.. bottom=.. vx=.. vy=.. event
//   action=<delete|split|merge|N> object=<id> ids=<id,...>
// --raw writes each message's protobuf part (without the length word).
#include <fmt/format.h>
#include <scenefeed.h>

#include <cstdlib>

#include "feedwire.h"
#include "scene.pb-c.h"
#include "tool_common.h"

using namespace feedtools;

namespace
{

CommonOptions opts;
std::atomic<long> received{0};

void onConnect(void*)
{
    emit("connected\n");
}
void onDisconnect(void*)
{
    emit("disconnected\n");
}

std::string optionalU64(bool present, uint64_t v)
{
    return present ? std::to_string(v) : "none";
}

void onMessage(uint8_t* buffer)
{
    std::int64_t recv = monotonicNs();
    long index = ++received;
    uint32_t word = feedwire_get_u32(buffer);
    if (!opts.raw.empty())
        writeRaw(opts.raw, "scene", index, buffer + 4, word - 4);
    Scene__Scene* scene = scene__scene__unpack(nullptr, word - 4, buffer + 4);
    std::free(buffer);
    if (scene == nullptr) {
        emit("undecodable message\n");
        return;
    }
    std::string out =
        fmt::format("scene length={} time_ns={} real_ns={} recv_ns={} objects={} events={}\n", word,
                    optionalU64(scene->time_opt_case == SCENE__SCENE__TIME_OPT_TIME, scene->time),
                    optionalU64(scene->real_time_opt_case == SCENE__SCENE__REAL_TIME_OPT_REAL_TIME,
                                scene->real_time),
                    recv, scene->n_objects, scene->n_events);
    for (size_t i = 0; i < scene->n_objects; i++) {
        const Scene__Object* o = scene->objects[i];
        out += fmt::format("object id={} confidence={:.2f}", o->id, o->confidence);
        if (o->bounding_box_opt_case == SCENE__OBJECT__BOUNDING_BOX_OPT_BOUNDING_BOX)
            out += fmt::format(" left={:.4f} top={:.4f} right={:.4f} bottom={:.4f}",
                               o->bounding_box->left, o->bounding_box->top, o->bounding_box->right,
                               o->bounding_box->bottom);
        if (o->velocity_opt_case == SCENE__OBJECT__VELOCITY_OPT_VELOCITY)
            out += fmt::format(" vx={:.4f} vy={:.4f}", o->velocity->vx, o->velocity->vy);
        out += "\n";
    }
    for (size_t i = 0; i < scene->n_events; i++) {
        const Scene__Event* e = scene->events[i];
        std::string ids;
        for (size_t k = 0; k < e->n_object_ids; k++)
            ids += (k ? "," : "") + std::to_string(e->object_ids[k]);
        const char* names[] = {"delete", "split", "merge"};
        std::string action =
            e->action >= 0 && e->action <= 2 ? names[e->action] : std::to_string(e->action);
        out += fmt::format("event action={} object={} ids={}\n", action, e->object_id, ids);
    }
    scene__scene__free_unpacked(scene, nullptr);
    emit(out);
}

} // namespace

int main(int argc, char** argv)
{
    bool reconnect = true, lowConfident = true;
    int bad = parseOptions(argc, argv, opts, [&](int i, int, char** av) {
        std::string a = av[i];
        if (a == "--no-reconnect")
            return (reconnect = false), 1;
        if (a == "--high-confidence-only")
            return (lowConfident = false), 1;
        return 0;
    });
    if (bad != 0) {
        std::fprintf(stderr,
                     "usage: scenefeed-sub [--channel N] [--count N] [--seconds S] [--raw DIR] "
                     "[--no-reconnect] [--high-confidence-only]\n");
        return 2;
    }
    if (opts.channel < 0)
        opts.channel = 0;
    installSignalHandlers();
    scenefeed_subscriber* h =
        scenefeed_create(opts.channel, SCENEFEED_FORMAT_FRAMED_PROTOBUF, nullptr);
    if (h == nullptr) {
        std::fprintf(stderr, "scenefeed-sub: cannot create the subscriber\n");
        return 1;
    }
    scenefeed_set_on_connect_callback(h, onConnect);
    scenefeed_set_on_disconnect_callback(h, onDisconnect);
    scenefeed_set_on_message_arrived_callback(h, onMessage);
    scenefeed_set_velocity_enabled(h);
    scenefeed_set_bounding_box_enabled(h);
    if (lowConfident)
        scenefeed_set_low_confident_enabled(h);
    scenefeed_set_reconnect(h, reconnect ? 1 : 0);
    if (scenefeed_subscribe(h) != 0) {
        std::fprintf(stderr, "scenefeed-sub: cannot subscribe\n");
        scenefeed_delete(h);
        return 1;
    }
    waitUntilDone(opts, received);
    scenefeed_unsubscribe(h);
    scenefeed_delete(h);
    return 0;
}
