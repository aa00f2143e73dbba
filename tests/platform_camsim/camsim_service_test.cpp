// camsim on a private bus: the PTZ, event producer and consumer services as
// clients see them, the control surface and the trace.
#include <gio/gunixfdlist.h>
#include <sys/socket.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camsim_runner.h"
#include "support/child_process.h"
#include "support/http_client.h"
#include "support/lighttpd.h"
#include "support/temp_dir.h"

using camsimtest::CamsimRunner;
using camsimtest::pumpUntil;
using nlohmann::json;

namespace
{

constexpr const char* kPtz = "com.zeto.PTZ2";
constexpr const char* kCh1 = "/com/zeto/PTZ2/Channel/1";
constexpr const char* kPreset = "com.zeto.PTZ2.Preset1";
constexpr const char* kSocket = "com.zeto.PTZ2.ControlSocket1";
constexpr const char* kProducer = "com.zeto.EventProducerd1";
constexpr const char* kProducerPath = "/com/zeto/EventProducerd1";
constexpr const char* kConsumer = "com.zeto.EventConsumerd1";
constexpr const char* kConsumerPath = "/com/zeto/EventConsumerd1";

std::string printed(GVariant* v)
{
    gchar* t = g_variant_print(v, TRUE);
    std::string s(t);
    g_free(t);
    return s;
}

struct Signal {
    std::string name;
    std::string params;
};

void collect(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
             GVariant* params, gpointer data)
{
    static_cast<std::vector<Signal>*>(data)->push_back({name, printed(params)});
}

GVariant* stringDict(std::vector<std::pair<std::string, std::string>> entries)
{
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{ss}"));
    for (auto& [k, v] : entries)
        g_variant_builder_add(&b, "{ss}", k.c_str(), v.c_str());
    return g_variant_builder_end(&b);
}

GVariant* levels(std::vector<std::string> names)
{
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    for (std::size_t i = 0; i < names.size(); ++i)
        g_variant_builder_add(&b, "{sv}", ("topic" + std::to_string(i)).c_str(),
                              g_variant_new_string(names[i].c_str()));
    return g_variant_builder_end(&b);
}

GVariant* noTags()
{
    return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
}

GVariant* subscription(std::vector<std::string> names)
{
    return g_variant_new("(@a{ss}@a{sv}@a{ss}@a{sv})", stringDict({}), levels(names),
                         stringDict({{"topic0", "tnszeto"}}), noTags());
}

int intReply(GVariant* r)
{
    EXPECT_NE(r, nullptr);
    if (r == nullptr)
        return -1;
    gint32 v = -1;
    g_variant_get(r, "(i)", &v);
    g_variant_unref(r);
    return v;
}

} // namespace

TEST(CamsimServices, ObjectManagerListsEveryChannel)
{
    CamsimRunner cam({"--channels", "2"});
    GVariant* r = cam.call(kPtz, "/com/zeto/PTZ2", "org.freedesktop.DBus.ObjectManager",
                           "GetManagedObjects", nullptr);
    ASSERT_NE(r, nullptr);
    std::string text = printed(r);
    g_variant_unref(r);
    EXPECT_NE(text.find("'/com/zeto/PTZ2/Channel/1': {'com.zeto.PTZ2.Preset1': {'PtzReady': "
                        "<uint32 1>, 'PresetStatus': <(uint32 0, uint32 0)>}"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("/com/zeto/PTZ2/Channel/2"), std::string::npos) << text;
    r = cam.call(kPtz, "/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(printed(r), text);
    g_variant_unref(r);

    // Channel 2 has no PTZ: no presets, no control socket.
    r = cam.call(kPtz, "/com/zeto/PTZ2/Channel/2", kPreset, "GetPresets", nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(printed(r), "(@a(us) [],)");
    g_variant_unref(r);
    GError* err = nullptr;
    EXPECT_EQ(cam.call(kPtz, "/com/zeto/PTZ2/Channel/2", kSocket, "CreateSocketAsAutotracker",
                       nullptr, &err),
              nullptr);
    ASSERT_NE(err, nullptr);
    g_error_free(err);
}

TEST(CamsimServices, PresetChangesAndGotoAreSignalled)
{
    CamsimRunner cam;
    std::vector<Signal> signals;
    guint sub =
        g_dbus_connection_signal_subscribe(cam.bus(), nullptr, nullptr, nullptr, kCh1, nullptr,
                                           G_DBUS_SIGNAL_FLAGS_NONE, collect, &signals, nullptr);
    // No sender filter: a well-known sender name is resolved asynchronously and
    // signals that arrive before that are dropped. The path is camsim's alone.
    camsimtest::syncWithBus(cam.bus());
    cam.control({{"cmd", "preset-add"}, {"number", 1}, {"name", "door"}, {"pan", 5}});
    cam.control({{"cmd", "preset-add"}, {"number", 2}, {"name", "gate"}, {"pan", -5}});
    cam.control({{"cmd", "preset-add"}, {"number", 2}, {"name", "yard"}, {"pan", -5}});
    cam.control({{"cmd", "preset-remove"}, {"number", 2}});
    ASSERT_TRUE(pumpUntil([&] { return signals.size() >= 4; })) << signals.size();
    EXPECT_EQ(signals[0].name, "PresetAdded");
    EXPECT_EQ(signals[0].params, "(uint32 1, 'door')");
    EXPECT_EQ(signals[1].name, "PresetAdded");
    EXPECT_EQ(signals[2].name, "PresetChanged");
    EXPECT_EQ(signals[2].params, "(uint32 2, 'yard')");
    EXPECT_EQ(signals[3].name, "PresetRemoved");

    GVariant* r = cam.call(kPtz, kCh1, kPreset, "GetPresets", nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(printed(r), "([(uint32 1, 'door')],)");
    g_variant_unref(r);

    signals.clear();
    r = cam.call(kPtz, kCh1, kPreset, "GotoPreset", g_variant_new("(u)", 1u));
    ASSERT_NE(r, nullptr);
    g_variant_unref(r);
    auto statusSeen = [&](const char* status) {
        for (auto& s : signals)
            if (s.name == "PropertiesChanged" && s.params.find(status) != std::string::npos)
                return true;
        return false;
    };
    ASSERT_TRUE(pumpUntil([&] { return statusSeen("<(uint32 1, uint32 1)>"); }));
    EXPECT_TRUE(statusSeen("'PresetStatus': <(uint32 2, uint32 1)>"));
    r = cam.call(kPtz, kCh1, "org.freedesktop.DBus.Properties", "Get",
                 g_variant_new("(ss)", kPreset, "PresetStatus"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(printed(r), "(<(uint32 1, uint32 1)>,)");
    g_variant_unref(r);
    EXPECT_NEAR(cam.control({{"cmd", "pose"}})["pan"].get<double>(), 5.0, 1e-6);

    GError* err = nullptr;
    EXPECT_EQ(cam.call(kPtz, kCh1, kPreset, "GotoPreset", g_variant_new("(u)", 9u), &err), nullptr);
    EXPECT_TRUE(err != nullptr &&
                std::string(err->message).find("NoSuchPreset") != std::string::npos);
    g_clear_error(&err);
    g_dbus_connection_signal_unsubscribe(cam.bus(), sub);
}

TEST(CamsimServices, WrongSignaturesGetDBusErrors)
{
    CamsimRunner cam;
    struct Bad {
        const char* name;
        const char* path;
        const char* iface;
        const char* method;
        GVariant* params;
    };
    std::vector<Bad> calls = {
        {kPtz, kCh1, kPreset, "GotoPreset", g_variant_new("(s)", "1")},
        {kPtz, kCh1, kPreset, "GetPresets", g_variant_new("(u)", 1u)},
        {kPtz, kCh1, kSocket, "DestroySocket", nullptr},
        {kPtz, kCh1, kSocket, "DestroySocket", g_variant_new("(i)", 77)}, // unknown handle
        {kPtz, kCh1, kPreset, "NoSuchMethod", nullptr},
        {kProducer, kProducerPath, kProducer, "DeclareEvent", nullptr},
        {kProducer, kProducerPath, kProducer, "SendEvent", g_variant_new("(i)", 1)},
        {kProducer, kProducerPath, kProducer, "SendEvent",
         g_variant_new("(i@a{sv}x)", 99, noTags(), gint64{0})}, // undeclared id
        {kConsumer, kConsumerPath, kConsumer, "Subscribe", g_variant_new("(i)", 1)},
        {kConsumer, kConsumerPath, kConsumer, "Subscribe", subscription({})}, // no topic
        {kConsumer, kConsumerPath, kConsumer, "Unsubscribe", g_variant_new("(i)", 5)},
    };
    for (auto& c : calls) {
        GError* err = nullptr;
        GVariant* r = cam.call(c.name, c.path, c.iface, c.method, c.params, &err);
        EXPECT_EQ(r, nullptr) << c.method;
        EXPECT_NE(err, nullptr) << c.method;
        if (r != nullptr)
            g_variant_unref(r);
        g_clear_error(&err);
    }
    EXPECT_TRUE(cam.process().running());
    EXPECT_NO_THROW(cam.control({{"cmd", "pose"}}));
}

TEST(CamsimServices, ControlSocketIsHandedOverAndReleased)
{
    CamsimRunner cam;
    GUnixFDList* fds = nullptr;
    GError* err = nullptr;
    GVariant* r = g_dbus_connection_call_with_unix_fd_list_sync(
        cam.bus(), kPtz, kCh1, kSocket, "CreateSocketAsAutotracker", nullptr, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &fds, nullptr, &err);
    ASSERT_NE(r, nullptr) << (err ? err->message : "");
    gint32 handle = 0;
    g_variant_get(r, "(i)", &handle);
    g_variant_unref(r);
    ASSERT_NE(fds, nullptr);
    ASSERT_EQ(g_unix_fd_list_get_length(fds), 1);
    int fd = g_unix_fd_list_get(fds, 0, nullptr);
    g_object_unref(fds);
    int type = 0;
    socklen_t len = sizeof type;
    ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len), 0);
    EXPECT_EQ(type, SOCK_SEQPACKET);
    EXPECT_EQ(cam.control({{"cmd", "ptzlink"}})["connections"].size(), 1u);

    r = cam.call(kPtz, kCh1, kSocket, "DestroySocket", g_variant_new("(i)", handle));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(printed(r), "()");
    g_variant_unref(r);
    char byte;
    EXPECT_EQ(recv(fd, &byte, 1, 0), 0); // camsim closed its end
    close(fd);
    EXPECT_EQ(cam.control({{"cmd", "ptzlink"}})["connections"].size(), 0u);
}

TEST(CamsimServices, ProducerEventsReachMatchingSubscriptionsOnly)
{
    CamsimRunner cam;
    GDBusConnection* other = cam.connect();
    std::vector<Signal> mine, theirs;
    guint s1 = g_dbus_connection_signal_subscribe(cam.bus(), nullptr, kConsumer, "NotifyEvent",
                                                  kConsumerPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                  collect, &mine, nullptr);
    guint s2 = g_dbus_connection_signal_subscribe(other, nullptr, kConsumer, "NotifyEvent",
                                                  kConsumerPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                  collect, &theirs, nullptr);
    camsimtest::syncWithBus(cam.bus());
    camsimtest::syncWithBus(other);
    int subMine = intReply(cam.call(kConsumer, kConsumerPath, kConsumer, "Subscribe",
                                    subscription({"Plinth", "Quillon", "AutotrackingState"})));
    GVariant* r =
        g_dbus_connection_call_sync(other, kConsumer, kConsumerPath, kConsumer, "Subscribe",
                                    subscription({"Plinth", "Quillon", "AutoTriggers"}), nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr);
    EXPECT_GT(intReply(r), 0);
    EXPECT_GT(subMine, 0);

    GVariant* decl = g_variant_new(
        "(b@a{ss}@a{sv}@a{ss}@a{ss}@a{ss}@a{sv}s)", FALSE,
        stringDict({{"topic0", "VALUE_TYPE_STRING"},
                    {"topic1", "VALUE_TYPE_STRING"},
                    {"topic2", "VALUE_TYPE_STRING"},
                    {"stateInfo", "VALUE_TYPE_BOOL"},
                    {"channel", "VALUE_TYPE_INT"}}),
        levels({"Plinth", "Quillon", "AutotrackingState"}),
        stringDict({{"topic2", "Quillon: Is tracking"}}),
        stringDict({{"topic2", "Quillon: Is tracking"}}),
        stringDict({{"topic0", "tnszeto"}, {"topic1", "tnszeto"}, {"topic2", "tnszeto"}}), noTags(),
        "stateInfo");
    int id = intReply(cam.call(kProducer, kProducerPath, kProducer, "DeclareEvent", decl));
    ASSERT_GT(id, 0);
    GVariantBuilder data;
    g_variant_builder_init(&data, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&data, "{sv}", "stateInfo", g_variant_new_boolean(TRUE));
    g_variant_builder_add(&data, "{sv}", "channel", g_variant_new_int32(1));
    r = cam.call(kProducer, kProducerPath, kProducer, "SendEvent",
                 g_variant_new("(ia{sv}x)", id, &data, gint64{1700000000000000}));
    ASSERT_NE(r, nullptr);
    g_variant_unref(r);

    ASSERT_TRUE(pumpUntil([&] { return !mine.empty(); }));
    EXPECT_EQ(mine[0].params.rfind("(int64 1700000000000000, {'topic0': 'VALUE_TYPE_STRING'", 0),
              0u)
        << mine[0].params;
    EXPECT_NE(mine[0].params.find("'topic2': <'AutotrackingState'>"), std::string::npos);
    EXPECT_NE(mine[0].params.find("'stateInfo': <true>"), std::string::npos);
    EXPECT_NE(mine[0].params.find("'stateInfo')"), std::string::npos);

    // An event the other connection subscribed to, sent from the control
    // surface, reaches it and not this one.
    json sent = cam.control({{"cmd", "send-event"},
                             {"topic", "tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutoTriggers"},
                             {"data", {{"autoTriggersEnabled", true}}}});
    EXPECT_EQ(sent["deliveries"], 1);
    ASSERT_TRUE(pumpUntil([&] { return !theirs.empty(); }));
    pumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(mine.size(), 1u);
    EXPECT_EQ(theirs.size(), 1u);

    json declared = cam.control({{"cmd", "events-declared"}});
    ASSERT_EQ(declared.size(), 1u);
    EXPECT_EQ(declared[0]["topic"], "tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutotrackingState");
    json log = cam.control({{"cmd", "events-sent"}});
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0]["declaration"], id);
    EXPECT_EQ(log[0]["data"], (json{{"stateInfo", true}, {"channel", 1}}));
    EXPECT_EQ(log[0]["timestamp"], 1700000000000000);
    EXPECT_EQ(log[1]["topic"], "tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutoTriggers");

    r = cam.call(kProducer, kProducerPath, kProducer, "UndeclareEvent", g_variant_new("(i)", id));
    ASSERT_NE(r, nullptr);
    g_variant_unref(r);
    r = cam.call(kConsumer, kConsumerPath, kConsumer, "Unsubscribe", g_variant_new("(i)", subMine));
    ASSERT_NE(r, nullptr);
    g_variant_unref(r);
    EXPECT_TRUE(cam.control({{"cmd", "events-declared"}}).empty());

    // A client that leaves the bus loses its subscriptions.
    g_dbus_connection_signal_unsubscribe(other, s2);
    g_dbus_connection_close_sync(other, nullptr, nullptr);
    g_object_unref(other);
    EXPECT_TRUE(pumpUntil([&] { return cam.control({{"cmd", "event-subscriptions"}}).empty(); }));
    g_dbus_connection_signal_unsubscribe(cam.bus(), s1);
}

TEST(CamsimServices, CommandLineToolAndTrace)
{
    CamsimRunner cam;
    std::string trace = cam.dir().path() + "/trace.csv";
    auto ctl = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {CAMSIMCTL_PATH, "--socket", cam.controlSocket()});
        testsupport::ChildProcess p(args);
        int status = p.waitExit(std::chrono::seconds(10));
        return std::make_pair(status, p.output());
    };
    auto [st, out] = ctl({"trace-start", "path=" + trace});
    EXPECT_EQ(st, 0) << out;
    std::tie(st, out) = ctl({"move", "pan=50", "zoom=100"});
    EXPECT_EQ(st, 0) << out;
    g_usleep(300000);
    std::tie(st, out) = ctl({"stop"});
    std::tie(st, out) = ctl({"trace-stop"});
    EXPECT_EQ(st, 0) << out;
    std::tie(st, out) = ctl({"pose"});
    EXPECT_EQ(st, 0);
    json pose = json::parse(out);
    EXPECT_GT(pose["pan"].get<double>(), 1.0);
    EXPECT_GT(pose["zoom"].get<double>(), 1.1);
    std::tie(st, out) = ctl({"preset-remove", "number=4"});
    EXPECT_EQ(WEXITSTATUS(st), 1) << out;
    EXPECT_NE(out.find("no such preset"), std::string::npos);

    std::ifstream in(trace);
    std::string header, line, last;
    std::getline(in, header);
    EXPECT_EQ(header.rfind("time_s,pan,tilt,zoom,hfov,vfov,pan_speed,tilt_speed,zoom_rate,status,"
                           "cmd_pan,cmd_tilt,cmd_zoom,cmd_space",
                           0),
              0u);
    int rows = 0;
    bool commanded = false;
    while (std::getline(in, line)) {
        ++rows;
        commanded |= line.find(",50.0000,0.0000,100.0000,proportional") != std::string::npos;
    }
    EXPECT_GT(rows, 5);
    EXPECT_TRUE(commanded);
}

TEST(CamsimServices, EventsRestartDropsSubscriptionsAndTheNameReturns)
{
    CamsimRunner cam;
    std::vector<Signal> owners;
    guint watch = g_dbus_connection_signal_subscribe(
        cam.bus(), "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
        "/org/freedesktop/DBus", kConsumer, G_DBUS_SIGNAL_FLAGS_NONE, collect, &owners, nullptr);
    camsimtest::syncWithBus(cam.bus());
    for (const char* leaf : {"SetAutoTriggers", "SetProfile"})
        EXPECT_GT(intReply(cam.call(kConsumer, kConsumerPath, kConsumer, "Subscribe",
                                    subscription({"Plinth", "Quillon", leaf}))),
                  0);
    ASSERT_EQ(cam.control({{"cmd", "event-subscriptions"}}).size(), 2u);

    EXPECT_THROW(cam.control({{"cmd", "events-restart"}, {"away", -1}}), std::runtime_error);
    json r = cam.control({{"cmd", "events-restart"}, {"away", 1}});
    EXPECT_EQ(r["dropped"], 2);
    EXPECT_TRUE(cam.control({{"cmd", "event-subscriptions"}}).empty());
    // Away: calls to the consumer fail and its producer stays.
    GError* err = nullptr;
    GVariant* gone = cam.call(kConsumer, kConsumerPath, kConsumer, "Subscribe",
                              subscription({"Plinth", "Quillon", "SetProfile"}), &err);
    EXPECT_EQ(gone, nullptr);
    if (err != nullptr)
        g_error_free(err);
    EXPECT_TRUE(cam.control({{"cmd", "event-subscriptions"}}).empty());

    // The name vanishes, then comes back with an owner.
    ASSERT_TRUE(pumpUntil([&] { return owners.size() >= 2; })) << owners.size();
    EXPECT_NE(owners[0].params.find("'')"), std::string::npos) << owners[0].params;
    EXPECT_EQ(owners[1].params.find("'')"), std::string::npos) << owners[1].params;
    EXPECT_GT(intReply(cam.call(kConsumer, kConsumerPath, kConsumer, "Subscribe",
                                subscription({"Plinth", "Quillon", "SetProfile"}))),
              0);
    json subs = cam.control({{"cmd", "event-subscriptions"}});
    ASSERT_EQ(subs.size(), 1u);
    EXPECT_EQ(subs[0]["topic"], "tnszeto:Plinth/Quillon/SetProfile");
    g_dbus_connection_signal_unsubscribe(cam.bus(), watch);
}

TEST(CamsimServices, SentEventsCarryMonotonicReceivedTimes)
{
    CamsimRunner cam;
    gint64 before = g_get_monotonic_time();
    cam.control({{"cmd", "send-event"}, {"topic", "tnszeto:A/tnszeto:B"}, {"data", {{"k", "v"}}}});
    gint64 after = g_get_monotonic_time();
    json log = cam.control({{"cmd", "events-sent"}});
    ASSERT_EQ(log.size(), 1u);
    EXPECT_GE(log[0]["received"].get<gint64>(), before);
    EXPECT_LE(log[0]["received"].get<gint64>(), after);
}

namespace
{

// A person standing still right of the picture centre (pan about 11
// degrees) of a camera at pan 0, with the given picture rotation.
std::string stillPersonScenario(int rotation)
{
    return json{
        {"name", "still"},
        {"camera", {{"height", 4}, {"pan", 0}, {"tilt", -12}, {"rotation", rotation}}},
        {"objects",
         {{{"name", "post"}, {"class", "human"}, {"path", {{{"t", 0}, {"x", 3}, {"y", 15}}}}}}}}
        .dump();
}

} // namespace

// The view reports the latest streamObjects frame with the pose and the scene
// at the frame's time (not now), boxes mirrored for a rotated picture; the
// same JSON comes through lighttpd and cgirelay as view.cgi.
TEST(CamsimServices, ViewShowsTheLatestFrameWithPoseAndSceneAtItsTime)
{
    for (int rotation : {0, 180}) {
        SCOPED_TRACE(rotation);
        testsupport::TempDir files("camsim-view");
        files.write("still.json", stillPersonScenario(rotation));
        CamsimRunner cam({"--feeds-scenario", files.path() + "/still.json"});
        json empty = cam.control({{"cmd", "view"}});
        EXPECT_TRUE(empty["stream"].is_null()) << empty;

        int id = camsimtest::declareStreamObjects(cam);
        ASSERT_GT(id, 0);
        // Wait until the data cache holds the pose at pan 0 for a while.
        g_usleep(100000);
        gint64 frameWall = g_get_real_time();
        gint64 frameMono = g_get_monotonic_time();
        g_usleep(100000);
        cam.control({{"cmd", "set-pose"}, {"pan", -40}, {"tilt", -12}, {"zoom", 2}});
        const std::string text = R"({"trackerEnabled":true,"zoomMag":1})";
        ASSERT_TRUE(camsimtest::sendStreamObjects(cam, id, text, frameWall));
        // Another topic's event does not replace it.
        cam.control({{"cmd", "send-event"},
                     {"topic", "tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutoTriggers"},
                     {"data", {{"jsonframe", "{}"}}}});

        json v = cam.control({{"cmd", "view"}});
        ASSERT_TRUE(v["stream"].is_object()) << v;
        EXPECT_EQ(v["stream"]["jsonframe"], text);
        EXPECT_EQ(v["stream"]["timestamp"], frameWall);
        EXPECT_NEAR(v["stream"]["frame_time"].get<double>(), static_cast<double>(frameMono), 50e3);
        EXPECT_EQ(v["pose"]["time"], v["stream"]["frame_time"]);
        EXPECT_NEAR(v["pose"]["pan"].get<double>(), 0.0, 1e-6);
        EXPECT_NEAR(v["pose"]["zoom"].get<double>(), 1.0, 1e-6);
        EXPECT_NEAR(v["pose"]["hfov"].get<double>(), 60.0, 1e-6);
        EXPECT_EQ(v["pose"]["rotation"], rotation);
        ASSERT_EQ(v["objects"].size(), 1u);
        json post = v["objects"][0];
        EXPECT_EQ(post["name"], "post");
        EXPECT_EQ(post["class"], "human");
        ASSERT_EQ(post["in_picture"], true) << post;
        double centre = post["box"]["x"].get<double>() + post["box"]["width"].get<double>() / 2;
        EXPECT_NEAR(centre, rotation == 0 ? 0.673 : 0.327, 0.02) << post;
        EXPECT_GT(post["box"]["height"].get<double>(), 0.0);

        // Through the web server: the same view, read-only.
        files.write("web/www/local/camsim/view.cgi",
                    "socket " + cam.root() + "/run/camsim/transfer\n");
        files.write("web/www/local/camsim/other.cgi",
                    "socket " + cam.root() + "/run/camsim/transfer\n");
        testsupport::Lighttpd web(files.path() + "/web",
                                  "$HTTP[\"url\"] =~ \"^/local/camsim/\" {\n"
                                  "  cgi.assign = ( \".cgi\" => \"" CGIRELAY "\" )\n"
                                  "}\n");
        for (bool post_ : {false, true}) {
            testsupport::HttpReply reply =
                post_ ? testsupport::httpPost(web.url("/local/camsim/view.cgi"), "{}")
                      : testsupport::httpGet(web.url("/local/camsim/view.cgi"));
            ASSERT_EQ(reply.status, 200) << web.errorLog();
            json w = json::parse(reply.body, nullptr, false);
            EXPECT_EQ(w["stream"], v["stream"]) << reply.body;
            EXPECT_EQ(w["objects"], v["objects"]);
        }
        // A relay file naming another CGI gets no answer from camsim.
        EXPECT_EQ(testsupport::httpGet(web.url("/local/camsim/other.cgi")).status, 500);
    }
}

// Once the daemon stops, its last frame (empty, time stamp 0) names no moment:
// the view shows the current pose.
TEST(CamsimServices, ViewOfTheLastEmptyFrameUsesThePoseNow)
{
    CamsimRunner cam;
    int id = camsimtest::declareStreamObjects(cam);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(camsimtest::sendStreamObjects(cam, id, "", 0));
    json v = cam.control({{"cmd", "view"}});
    ASSERT_TRUE(v["stream"].is_object()) << v;
    EXPECT_EQ(v["stream"]["jsonframe"], "");
    EXPECT_TRUE(v["stream"]["frame_time"].is_null());
    EXPECT_LE(v["pose"]["time"].get<gint64>(), v["now"].get<gint64>());
    EXPECT_TRUE(v["objects"].empty());
}

// The PTZ2 fault and signal commands refuse what they cannot do, and camsim
// keeps serving.
TEST(CamsimServices, Ptz2FaultAndEmitRefuseBadRequests)
{
    CamsimRunner camsim;
    const std::vector<json> refused = {
        {{"cmd", "ptz2-fault"}, {"mode", "bogus"}},
        {{"cmd", "ptz2-emit"}, {"signal", "Nope"}, {"args", "(uint32 1, 'a')"}},
        {{"cmd", "ptz2-emit"}, {"signal", "PresetAdded"}, {"args", "(uint32 1"}},
        {{"cmd", "ptz2-emit"}, {"signal", "PresetAdded"}, {"args", "uint32 7"}},
        {{"cmd", "ptz2-emit"},
         {"signal", "PresetAdded"},
         {"args", "(uint32 1, 'a')"},
         {"channel", 0}},
    };
    for (auto& r : refused)
        EXPECT_FALSE(camsimtest::controlRequest(camsim.controlSocket(), r).value("ok", true))
            << r.dump();

    // Faults switch on and off.
    camsim.control({{"cmd", "ptz2-fault"}, {"mode", "nopresets"}});
    GError* error = nullptr;
    EXPECT_EQ(camsim.call(kPtz, kCh1, kPreset, "GetPresets", nullptr, &error), nullptr);
    g_clear_error(&error);
    camsim.control({{"cmd", "ptz2-fault"}, {"mode", "none"}});
    GVariant* presets = camsim.call(kPtz, kCh1, kPreset, "GetPresets", nullptr);
    ASSERT_NE(presets, nullptr);
    g_variant_unref(presets);
}
