// mbx-sub: prints the messages of a topic of the camera's message broker.
//
//   mbx-sub [--topic T] [--source S] [--channel N] [--count N] [--seconds S] [--raw DIR]
//
// Default topic: the analytics scene description; default source: the
// channel number (1). Output:
//   ready                               the broker confirmed the subscription
//   error code=<code> message=<text>    the connection was lost (the library
//                                       reconnects and subscribes again)
//   message ts=<s>.<ns> recv_ns=<ns> size=<bytes> observations=<n>
//   payload <the JSON text>
#include <fmt/format.h>
#include <mbx.h>

#include <nlohmann/json.hpp>

#include "tool_common.h"

using namespace feedtools;

namespace
{

CommonOptions opts;
std::atomic<long> received{0};

void onError(const mbx_error* e, void*)
{
    emit(fmt::format("error code={} message={}\n", e->code, e->message ? e->message : ""));
}

void onReady(mbx_subscriber*, const mbx_error*, void*)
{
    emit("ready\n");
}

void onMessage(const mbx_message* m, void*)
{
    std::int64_t recv = monotonicNs();
    const struct timespec* ts = mbx_message_get_timestamp(m);
    const mbx_payload* p = mbx_message_get_payload(m);
    if (ts == nullptr || p == nullptr)
        return;
    long index = ++received;
    if (!opts.raw.empty())
        writeRaw(opts.raw, "mbx", index, p->data, p->size);
    long observations = -1;
    auto root = nlohmann::json::parse(p->data, p->data + p->size, nullptr, false);
    if (!root.is_discarded() && root.contains("frame") && root["frame"].is_object() &&
        root["frame"].contains("observations") && root["frame"]["observations"].is_array())
        observations = static_cast<long>(root["frame"]["observations"].size());
    emit(fmt::format("message ts={}.{:09d} recv_ns={} size={} observations={}\npayload {}\n",
                     static_cast<long long>(ts->tv_sec), ts->tv_nsec, recv, p->size, observations,
                     std::string(p->data, p->size)));
}

} // namespace

int main(int argc, char** argv)
{
    std::string topic = "com.zeto.analytics_scene_description.v0.beta";
    std::string source;
    int bad = parseOptions(argc, argv, opts, [&](int i, int ac, char** av) {
        std::string a = av[i];
        if (a == "--topic" && i + 1 < ac)
            return (topic = av[i + 1]), 2;
        if (a == "--source" && i + 1 < ac)
            return (source = av[i + 1]), 2;
        return 0;
    });
    if (bad != 0) {
        std::fprintf(stderr, "usage: mbx-sub [--topic T] [--source S] [--channel N] [--count N] "
                             "[--seconds S] [--raw DIR]\n");
        return 2;
    }
    if (source.empty())
        source = std::to_string(opts.channel < 0 ? 1 : opts.channel);
    installSignalHandlers();

    mbx_error* err = nullptr;
    mbx_connection* conn = mbx_connection_create(onError, nullptr, &err);
    if (conn == nullptr) {
        std::fprintf(stderr, "mbx-sub: %s\n", err && err->message ? err->message : "no connection");
        mbx_error_destroy(&err);
        return 1;
    }
    mbx_subscriber_config* cfg =
        mbx_subscriber_config_create(topic.c_str(), source.c_str(), onMessage, nullptr, &err);
    mbx_subscriber* sub =
        cfg ? mbx_subscriber_create_async(conn, cfg, onReady, nullptr, &err) : nullptr;
    mbx_subscriber_config_destroy(&cfg);
    if (sub == nullptr) {
        std::fprintf(stderr, "mbx-sub: %s\n",
                     err && err->message ? err->message : "cannot subscribe");
        mbx_error_destroy(&err);
        mbx_connection_destroy(&conn);
        return 1;
    }
    waitUntilDone(opts, received);
    mbx_subscriber_destroy(&sub);
    mbx_connection_destroy(&conn);
    return 0;
}
