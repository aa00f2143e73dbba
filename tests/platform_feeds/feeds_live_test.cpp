// The three feeds end to end: camsim renders a scenario, the real stand-in
// libraries deliver it.
#include <detfeed.h>
#include <mbx.h>
#include <scenefeed.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include <gtest/gtest.h>

#include "camsim_runner.h" // controlRequest
#include "feeds_fixture.h"
#include "feedwire.h"
#include "scene.pb-c.h"
#include "support/wait.h"
#include "vod.pb-c.h"

using namespace feedstest;

namespace
{

// One person walking left to right, 20 m away, no noise: 15 fps, 100 ms.
const char* kWalker =
    R"({"name": "walker", "camera": {"height": 4, "pan": 0, "tilt": -5, "zoom": 1},
  "detector": {"fps": 15, "latency_ms": 100},
  "objects": [{"name": "p", "class": "human", "path": [{"t": 0, "x": -6, "y": 20}, {"t": 8, "x": 6, "y": 20}]}]})";

struct VodFrame {
    std::uint64_t ts = 0;
    std::int64_t recv = 0;
    std::vector<std::uint8_t> raw;
    std::vector<VOD__Detection> dets;        // plain copies
    std::vector<std::pair<int, int>> events; // action, object id
};

// DETECTION FEED

struct DetSub {
    Recorder<VodFrame> frames;
    Recorder<int> teardowns;
    detfeed_subscriber* h = nullptr;

    static void onDetection(const uint8_t* data, size_t len, void* user)
    {
        VodFrame f;
        f.recv = feedwire_monotonic_ns();
        f.raw.assign(data, data + len);
        VOD__Scene* s = vod__scene__unpack(nullptr, len, data);
        ASSERT_NE(s, nullptr);
        f.ts = s->timestamp;
        for (size_t i = 0; i < s->n_detections; i++) {
            VOD__Detection d = *s->detections[i];
            d.attributes = nullptr;
            d.feature = nullptr;
            d.classifications = nullptr;
            f.dets.push_back(d);
        }
        for (size_t i = 0; i < s->n_events; i++)
            f.events.emplace_back(s->events[i]->action, s->events[i]->object_id);
        vod__scene__free_unpacked(s, nullptr);
        static_cast<DetSub*>(user)->frames.add(std::move(f));
    }
    static void onTeardown(void* user) { static_cast<DetSub*>(user)->teardowns.add(1); }

    int subscribe(int emptyHits = 1)
    {
        int rc = detfeed_create(&h, this, 0, nullptr);
        if (rc != 0)
            return rc;
        detfeed_set_get_detection_callback(h, onDetection);
        detfeed_set_teardown_callback(h, onTeardown);
        detfeed_set_receive_empty_hits(h, emptyHits);
        return detfeed_subscribe(h);
    }
    ~DetSub()
    {
        if (h != nullptr)
            detfeed_delete(&h);
    }
};

TEST(FeedsLive, DetectionFeedFollowsTheScene)
{
    CamsimFeeds camsim(kWalker);

    detfeed_det_class** classes = nullptr;
    int n = detfeed_det_classes_get(&classes);
    ASSERT_EQ(n, 7);
    EXPECT_EQ(detfeed_det_class_id(classes[0]), 0);
    EXPECT_STREQ(detfeed_det_class_name(classes[1]), "vehicle");
    detfeed_det_classes_free(classes, n);
    int channels = 0;
    EXPECT_EQ(detfeed_get_nbr_channels(&channels), 0);
    EXPECT_EQ(channels, 1);

    DetSub sub;
    ASSERT_EQ(sub.subscribe(), 0);
    EXPECT_NE(detfeed_running(sub.h), 0);
    ASSERT_TRUE(sub.frames.waitCount(20));
    auto frames = sub.frames.items();
    float lastU = -2.0f;
    for (std::size_t i = 0; i < frames.size(); i++) {
        const VodFrame& f = frames[i];
        // Capture times on the 15 fps grid, delivered after the latency.
        if (i > 0) {
            EXPECT_EQ(f.ts - frames[i - 1].ts, 1000000000u / 15) << i;
        }
        EXPECT_GE(f.recv - static_cast<std::int64_t>(f.ts), 100000000) << i;
        ASSERT_EQ(f.dets.size(), 1u) << i;
        float u = (f.dets[0].left + f.dets[0].right) / 2;
        EXPECT_GT(u, lastU) << i; // walking to the right
        lastU = u;
        EXPECT_EQ(f.dets[0].id, frames[0].dets[0].id);
        EXPECT_EQ(f.dets[0].det_class, 0u);
        EXPECT_GT(f.dets[0].top, f.dets[0].bottom);
    }
    // Capture times are CLOCK_MONOTONIC nanoseconds of the present.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::int64_t nowNs = static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    EXPECT_LT(nowNs - static_cast<std::int64_t>(frames.back().ts), 5000000000);

    EXPECT_EQ(detfeed_unsubscribe(sub.h), 0);
    EXPECT_EQ(detfeed_running(sub.h), 0);
    EXPECT_TRUE(sub.teardowns.items().empty()); // an unsubscribe is no teardown
}

TEST(FeedsLive, BoxesFollowThePoseAtCaptureTime)
{
    // A person standing straight ahead, 20 m away.
    CamsimFeeds camsim(
        R"({"camera": {"height": 4, "pan": 0, "tilt": -5, "zoom": 1}, "detector": {"fps": 20},
        "objects": [{"path": [{"x": 0, "y": 20}]}]})");
    DetSub sub;
    ASSERT_EQ(sub.subscribe(), 0);
    ASSERT_TRUE(sub.frames.waitCount(5));
    auto control = [&](const nlohmann::json& req) {
        auto r = camsimtest::controlRequest(camsim.root() + "/run/camsim/control", req);
        ASSERT_TRUE(r.value("ok", false)) << r.dump();
    };
    // Zoom in twice and turn 5 degrees to the right, at once.
    std::int64_t before = feedwire_monotonic_ns();
    control({{"cmd", "set-pose"}, {"pan", 5}, {"tilt", -5}, {"zoom", 2}});
    std::int64_t after = feedwire_monotonic_ns();
    ASSERT_TRUE(sub.frames.waitFor(
        [&](const VodFrame& f) { return static_cast<std::int64_t>(f.ts) > after + 200000000; }));

    float oldHeight = 0, oldU = 0, newHeight = 0, newU = 0;
    for (const VodFrame& f : sub.frames.items()) {
        ASSERT_EQ(f.dets.size(), 1u);
        float h = f.dets[0].top - f.dets[0].bottom, u = (f.dets[0].left + f.dets[0].right) / 2;
        auto ts = static_cast<std::int64_t>(f.ts);
        // The data cache interpolates between its 10 ms samples: leave out
        // the frames captured right around the jump.
        if (ts < before - 20000000) {
            // Captured before the move, even when delivered after it.
            if (oldHeight == 0)
                oldHeight = h, oldU = u;
            EXPECT_NEAR(h, oldHeight, 1e-4);
        } else if (ts > after) {
            if (newHeight == 0)
                newHeight = h, newU = u;
            EXPECT_NEAR(h, newHeight, 1e-4);
        }
    }
    ASSERT_GT(oldHeight, 0);
    ASSERT_GT(newHeight, 0);
    EXPECT_NEAR(oldU, 0.0f, 0.01f);
    // Zoom 2 halves tan(fov/2): the box doubles; the camera turned right, so
    // the person moves left of the centre.
    EXPECT_NEAR(newHeight / oldHeight, 2.0f, 0.1f);
    EXPECT_LT(newU, -0.2f);
}

TEST(FeedsLive, ProtocDecodesAFrameFromTheLibrary)
{
    CamsimFeeds camsim(kWalker);
    DetSub sub;
    ASSERT_EQ(sub.subscribe(), 0);
    ASSERT_TRUE(sub.frames.waitCount(3));
    VodFrame f = sub.frames.items()[2];
    ASSERT_EQ(f.dets.size(), 1u);
    std::string bin = camsim.dir().file("frame.bin"), txt = camsim.dir().file("frame.txt");
    std::ofstream(bin, std::ios::binary)
        .write(reinterpret_cast<const char*>(f.raw.data()),
               static_cast<std::streamsize>(f.raw.size()));
    std::string cmd = std::string(PROTOC) + " --decode=VOD.Scene -I " + PROTO_DIR +
                      " vod.proto < " + bin + " > " + txt;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string text = testsupport::readFile(txt);
    EXPECT_NE(text.find("timestamp: " + std::to_string(f.ts)), std::string::npos) << text;
    EXPECT_NE(text.find("id: " + std::to_string(f.dets[0].id)), std::string::npos) << text;
    EXPECT_NE(text.find("score: " + std::to_string(f.dets[0].score)), std::string::npos) << text;
}

TEST(FeedsLive, EmptyFramesOnlyWhenAskedFor)
{
    CamsimFeeds camsim(R"({"name": "empty", "detector": {"fps": 20}})");
    DetSub quiet;
    ASSERT_EQ(quiet.subscribe(0), 0);
    DetSub all;
    ASSERT_EQ(all.subscribe(1), 0);
    ASSERT_TRUE(all.frames.waitCount(10));
    for (const auto& f : all.frames.items())
        EXPECT_TRUE(f.dets.empty());
    EXPECT_EQ(quiet.frames.size(), 0u);
    // Switching it on while subscribed takes effect at once.
    detfeed_set_receive_empty_hits(quiet.h, 1);
    EXPECT_TRUE(quiet.frames.waitCount(3));
}

TEST(FeedsLive, TrackDeletedWhenTheObjectLeaves)
{
    // Out of the picture to the east after about 2 s; deleted 0.5 s later.
    CamsimFeeds camsim(R"({"detector": {"fps": 20, "track_timeout": 0.5}, "camera": {"tilt": -5},
        "objects": [{"path": [{"t": 0, "x": 8, "y": 15}, {"t": 2, "x": 16, "y": 15}]}]})");
    DetSub sub;
    ASSERT_EQ(sub.subscribe(), 0);
    ASSERT_TRUE(sub.frames.waitFor([](const VodFrame& f) { return !f.events.empty(); }));
    auto frames = sub.frames.items();
    int id = -1;
    for (const auto& f : frames) {
        if (!f.dets.empty())
            id = static_cast<int>(f.dets[0].id);
        if (!f.events.empty()) {
            EXPECT_EQ(f.events[0].first, VOD__EVENT_ACTION__EVENT_DELETE);
            EXPECT_EQ(f.events[0].second, id);
            EXPECT_TRUE(f.dets.empty());
        }
    }
    EXPECT_GE(id, 0);
}

// SCENE FEED

struct SceneMsg {
    std::uint32_t word = 0;
    std::size_t size = 0;
    bool hasTime = false;
    std::uint64_t time = 0;
    std::vector<std::uint32_t> ids;
    std::vector<float> lefts;
};

Recorder<SceneMsg>* gScene = nullptr;
Recorder<int>* gSceneConn = nullptr; // +1 connect, -1 disconnect

void onSceneMessage(uint8_t* buf)
{
    SceneMsg m;
    m.word = feedwire_get_u32(buf);
    Scene__Scene* s = scene__scene__unpack(nullptr, m.word - 4, buf + 4);
    std::free(buf);
    ASSERT_NE(s, nullptr);
    m.hasTime = s->time_opt_case == SCENE__SCENE__TIME_OPT_TIME;
    m.time = s->time;
    for (size_t i = 0; i < s->n_objects; i++) {
        m.ids.push_back(s->objects[i]->id);
        if (s->objects[i]->bounding_box_opt_case == SCENE__OBJECT__BOUNDING_BOX_OPT_BOUNDING_BOX)
            m.lefts.push_back(s->objects[i]->bounding_box->left);
    }
    scene__scene__free_unpacked(s, nullptr);
    gScene->add(m);
}
void onSceneConnect(void*)
{
    gSceneConn->add(1);
}
void onSceneDisconnect(void*)
{
    gSceneConn->add(-1);
}

scenefeed_subscriber* sceneSubscribe(bool reconnect)
{
    scenefeed_subscriber* h = scenefeed_create(0, SCENEFEED_FORMAT_FRAMED_PROTOBUF, nullptr);
    if (h == nullptr)
        return nullptr;
    scenefeed_set_on_connect_callback(h, onSceneConnect);
    scenefeed_set_on_disconnect_callback(h, onSceneDisconnect);
    scenefeed_set_on_message_arrived_callback(h, onSceneMessage);
    scenefeed_set_velocity_enabled(h);
    scenefeed_set_bounding_box_enabled(h);
    scenefeed_set_low_confident_enabled(h);
    scenefeed_set_reconnect(h, reconnect ? 1 : 0);
    if (scenefeed_subscribe(h) != 0) {
        scenefeed_delete(h);
        return nullptr;
    }
    return h;
}

// ANALYTICS TOPIC

struct MbxMsg {
    std::int64_t sec = 0;
    long nsec = 0;
    std::string payload;
};
Recorder<MbxMsg>* gMbx = nullptr;
Recorder<int>* gMbxErrors = nullptr;

void onMbxMessage(const mbx_message* m, void*)
{
    const timespec* ts = mbx_message_get_timestamp(m);
    const mbx_payload* p = mbx_message_get_payload(m);
    ASSERT_NE(ts, nullptr);
    ASSERT_NE(p, nullptr);
    gMbx->add({ts->tv_sec, ts->tv_nsec, std::string(p->data, p->size)});
}
void onMbxError(const mbx_error* e, void*)
{
    gMbxErrors->add(e->code);
}

struct Feeds : ::testing::Test {
    Recorder<SceneMsg> scene;
    Recorder<int> sceneConn;
    Recorder<MbxMsg> mbx;
    Recorder<int> mbxErrors;
    void SetUp() override
    {
        gScene = &scene;
        gSceneConn = &sceneConn;
        gMbx = &mbx;
        gMbxErrors = &mbxErrors;
    }
};

// Subscribers of all three feeds (the scene feed reconnecting), released
// when the test ends. Needs the Feeds recorders in place.
struct AllFeeds {
    DetSub det;
    int detResult = -1;
    scenefeed_subscriber* scene = nullptr;
    mbx_connection* conn = nullptr;
    mbx_subscriber* mbx = nullptr;

    AllFeeds()
    {
        detResult = det.subscribe();
        scene = sceneSubscribe(true);
        mbx_error* err = nullptr;
        conn = mbx_connection_create(onMbxError, nullptr, &err);
        if (conn == nullptr)
            return;
        mbx_subscriber_config* cfg = mbx_subscriber_config_create(
            "com.zeto.analytics_scene_description.v0.beta", "1", onMbxMessage, nullptr, &err);
        mbx = mbx_subscriber_create_async(conn, cfg, nullptr, nullptr, &err);
        mbx_subscriber_config_destroy(&cfg);
    }
    ~AllFeeds()
    {
        if (mbx != nullptr)
            mbx_subscriber_destroy(&mbx);
        if (conn != nullptr)
            mbx_connection_destroy(&conn);
        if (scene != nullptr)
            scenefeed_delete(scene);
    }
    bool complete() const { return detResult == 0 && scene != nullptr && mbx != nullptr; }
};

TEST_F(Feeds, SceneFeedDeliversLengthFramedScenes)
{
    CamsimFeeds camsim(kWalker);
    scenefeed_subscriber* h = sceneSubscribe(false);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(sceneConn.waitCount(1));
    ASSERT_TRUE(scene.waitCount(10));
    auto msgs = scene.items();
    for (std::size_t i = 0; i < msgs.size(); i++) {
        EXPECT_TRUE(msgs[i].hasTime);
        ASSERT_EQ(msgs[i].ids.size(), 1u);
        ASSERT_EQ(msgs[i].lefts.size(), 1u);
        if (i > 0) {
            EXPECT_EQ(msgs[i].time - msgs[i - 1].time, 1000000000u / 15);
            EXPECT_GT(msgs[i].lefts[0], msgs[i - 1].lefts[0]);
        }
    }
    EXPECT_EQ(scenefeed_unsubscribe(h), 0);
    EXPECT_EQ(scenefeed_delete(h), 0);
    EXPECT_EQ(sceneConn.items().back(), -1);
}

TEST_F(Feeds, AnalyticsTopicCarriesObservations)
{
    CamsimFeeds camsim(kWalker);
    mbx_error* err = nullptr;
    mbx_connection* conn = mbx_connection_create(onMbxError, nullptr, &err);
    ASSERT_NE(conn, nullptr);
    mbx_subscriber_config* cfg = mbx_subscriber_config_create(
        "com.zeto.analytics_scene_description.v0.beta", "1", onMbxMessage, nullptr, &err);
    ASSERT_NE(cfg, nullptr);
    mbx_subscriber* sub = mbx_subscriber_create_async(conn, cfg, nullptr, nullptr, &err);
    mbx_subscriber_config_destroy(&cfg);
    ASSERT_NE(sub, nullptr);
    // Another source (channel) gets nothing.
    cfg = mbx_subscriber_config_create("com.zeto.analytics_scene_description.v0.beta", "2",
                                       onMbxMessage, reinterpret_cast<void*>(1), &err);
    mbx_subscriber* other = mbx_subscriber_create_async(conn, cfg, nullptr, nullptr, &err);
    mbx_subscriber_config_destroy(&cfg);

    ASSERT_TRUE(mbx.waitCount(5));
    for (const MbxMsg& m : mbx.items()) {
        EXPECT_LT(m.nsec, 1000000000);
        auto j = nlohmann::json::parse(m.payload);
        auto& obs = j["frame"]["observations"];
        ASSERT_EQ(obs.size(), 1u);
        EXPECT_EQ(obs[0]["class"]["type"], "Human");
        EXPECT_TRUE(obs[0]["track_id"].is_string());
        double left = obs[0]["bounding_box"]["left"], right = obs[0]["bounding_box"]["right"];
        EXPECT_LT(left, right);
        EXPECT_GE(left, 0.0);
        EXPECT_LE(right, 1.0);
    }
    mbx_subscriber_destroy(&other);
    mbx_subscriber_destroy(&sub);
    mbx_connection_destroy(&conn);
    EXPECT_TRUE(mbxErrors.items().empty());
}

TEST_F(Feeds, CamsimRestartTearsDownAndFeedsComeBack)
{
    CamsimFeeds camsim(kWalker);
    AllFeeds feeds;
    ASSERT_TRUE(feeds.complete());
    DetSub& det = feeds.det;
    ASSERT_TRUE(det.frames.waitCount(3));
    ASSERT_TRUE(scene.waitCount(3));
    ASSERT_TRUE(mbx.waitCount(3));

    camsim.stop();
    // Every subscriber hears of it through its own callback.
    ASSERT_TRUE(det.teardowns.waitCount(1));
    EXPECT_EQ(detfeed_running(det.h), 0);
    ASSERT_TRUE(sceneConn.waitFor([](int v) { return v == -1; }));
    ASSERT_TRUE(mbxErrors.waitCount(1));
    EXPECT_EQ(mbxErrors.items()[0], MBX_ERROR_CONNECTION_LOST);
    // With the camera gone a new detection subscription learns nothing.
    detfeed_det_class** classes = nullptr;
    EXPECT_LT(detfeed_det_classes_get(&classes), 0);
    EXPECT_EQ(classes, nullptr);

    scene.clear();
    mbx.clear();
    camsim.start();
    // The scene feed and the broker come back by themselves...
    EXPECT_TRUE(scene.waitCount(3));
    EXPECT_TRUE(mbx.waitCount(3));
    EXPECT_EQ(sceneConn.items().back(), 1);
    // ... and the detection feed after a new subscription.
    EXPECT_EQ(detfeed_delete(&det.h), 0);
    det.frames.clear();
    ASSERT_EQ(det.subscribe(), 0);
    EXPECT_TRUE(det.frames.waitCount(3));
}

TEST_F(Feeds, FaultsStallAndDropTheFeeds)
{
    CamsimFeeds camsim(kWalker);
    AllFeeds feeds;
    ASSERT_TRUE(feeds.complete());
    DetSub& det = feeds.det;
    ASSERT_TRUE(det.frames.waitCount(3));
    ASSERT_TRUE(scene.waitCount(3));
    ASSERT_TRUE(mbx.waitCount(3));

    // Stall of the detection feed alone: it stays connected and silent
    // while the other two go on.
    auto faults =
        camsim.control({{"cmd", "feeds-fault"}, {"mode", "stall"}, {"feed", "detection"}});
    EXPECT_EQ(faults,
              (nlohmann::json{{"detection", "stall"}, {"scene", "none"}, {"analytics", "none"}}));
    std::size_t detBefore = det.frames.size(), sceneBefore = scene.size(), mbxBefore = mbx.size();
    ASSERT_TRUE(scene.waitCount(sceneBefore + 15));
    ASSERT_TRUE(mbx.waitCount(mbxBefore + 15));
    EXPECT_LE(det.frames.size(), detBefore + 1); // at most one already on its way
    EXPECT_NE(detfeed_running(det.h), 0);
    EXPECT_TRUE(det.teardowns.items().empty());
    EXPECT_EQ(camsim.control({{"cmd", "feeds-status"}})["det_clients"], 1);
    camsim.control({{"cmd", "feeds-fault"}, {"mode", "none"}});
    EXPECT_TRUE(det.frames.waitCount(det.frames.size() + 5));

    // Drop of every feed: each subscriber loses its connection, and the
    // reconnecting ones get nowhere until the fault is cleared.
    camsim.control({{"cmd", "feeds-fault"}, {"mode", "drop"}});
    ASSERT_TRUE(det.teardowns.waitCount(1));
    ASSERT_TRUE(sceneConn.waitFor([](int v) { return v == -1; }));
    ASSERT_TRUE(mbxErrors.waitCount(1));
    EXPECT_EQ(mbxErrors.items()[0], MBX_ERROR_CONNECTION_LOST);
    scene.clear();
    DetSub refused;
    ASSERT_EQ(refused.subscribe(), 0);
    EXPECT_TRUE(refused.teardowns.waitCount(1));
    auto status = camsim.control({{"cmd", "feeds-status"}});
    EXPECT_EQ(status["det_clients"], 0);
    EXPECT_EQ(status["scene_clients"], 0);
    EXPECT_EQ(status["faults"]["scene"], "drop");
    EXPECT_TRUE(scene.items().empty());

    camsim.control({{"cmd", "feeds-fault"}, {"mode", "none"}, {"feed", "scene"}});
    EXPECT_TRUE(scene.waitCount(3)); // back by itself
    camsim.control({{"cmd", "feeds-fault"}, {"mode", "none"}});
    mbx.clear();
    EXPECT_TRUE(mbx.waitCount(3));
    EXPECT_EQ(detfeed_delete(&det.h), 0);
    det.frames.clear();
    ASSERT_EQ(det.subscribe(), 0);
    EXPECT_TRUE(det.frames.waitCount(3));

    for (const nlohmann::json& bad :
         {nlohmann::json{{"cmd", "feeds-fault"}, {"mode", "delay"}},
          nlohmann::json{{"cmd", "feeds-fault"}, {"mode", "stall"}, {"feed", "video"}}})
        EXPECT_THROW(camsim.control(bad), std::runtime_error) << bad.dump();
}

// The trace of a scene: where the object lies in the picture, whether and
// under which id the detector sees it, and what the tracking daemon reports.
TEST(FeedsLive, TraceFollowsObjectsDetectionsAndTrackingEvents)
{
    // Walks right at 1.5 m/s 20 m away and passes behind a pillar from
    // about t = 3 s, hidden for about half a second.
    CamsimFeeds camsim(R"({"camera": {"height": 4, "pan": 0, "tilt": -5, "zoom": 1},
        "detector": {"fps": 15, "latency_ms": 50},
        "occluders": [{"name": "pillar", "x": -0.9, "y": 15, "width": 0.75, "height": 3.5}],
        "objects": [{"name": "p", "path": [{"t": 0, "x": -6, "y": 20}, {"t": 8, "x": 6, "y": 20}]}]})");
    std::string path = camsim.dir().path() + "/trace.csv";
    camsim.control({{"cmd", "trace-start"}, {"path", path}});
    DetSub det;
    ASSERT_EQ(det.subscribe(), 0);
    ASSERT_TRUE(det.frames.waitCount(20));
    const std::string quillon = "tnszeto:Plinth/tnszeto:Quillon/";
    auto send = [&](const std::string& leaf, const nlohmann::json& data) {
        camsim.control({{"cmd", "send-event"}, {"topic", quillon + leaf}, {"data", data}});
    };
    int id = static_cast<int>(det.frames.items().back().dets.at(0).id);
    send("tnszeto:AutotrackingState", {{"stateInfo", true}, {"channel", 1}});
    send("tnszeto:streamObjects", {{"jsonframe", nlohmann::json{{"trackedId", id}}.dump()}});
    // Other channels and other daemons' events change nothing.
    send("tnszeto:AutotrackingState", {{"stateInfo", false}, {"channel", 2}});
    camsim.control({{"cmd", "send-event"},
                    {"topic", "tnszeto:Plinth/tnszeto:Other/tnszeto:AutotrackingState"},
                    {"data", {{"stateInfo", false}}}});
    ASSERT_TRUE(det.frames.waitFor([](const VodFrame& f) { return f.ts > 0 && f.dets.empty(); },
                                   std::chrono::seconds(20)));
    ASSERT_TRUE(det.frames.waitFor(
        [&](const VodFrame& f) { return !f.dets.empty() && f.dets[0].left > 0.3f; },
        std::chrono::seconds(20)));
    send("tnszeto:streamObjects", {{"jsonframe", ""}});
    send("tnszeto:AutotrackingState", {{"stateInfo", false}, {"channel", 1}});
    // A few ticks later the trace has rows written after the events.
    long long sentAt = camsim.control({{"cmd", "pose"}})["time_us"];
    ASSERT_TRUE(testsupport::waitFor([&] {
        return camsim.control({{"cmd", "pose"}})["time_us"] > sentAt + 50000;
    }));
    auto stopped = camsim.control({{"cmd", "trace-stop"}});
    ASSERT_GT(stopped["rows"].get<int>(), 100);

    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    std::map<std::string, std::size_t> col;
    {
        std::stringstream h(line);
        std::string name;
        for (std::size_t i = 0; std::getline(h, name, ','); i++)
            col[name] = i;
    }
    for (const char* name :
         {"p_u", "p_v", "p_detected", "p_id", "scene_t", "tracking", "tracked_id"})
        ASSERT_TRUE(col.count(name)) << name;
    std::vector<std::vector<std::string>> rows;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream r(line);
        std::string cell;
        while (std::getline(r, cell, ','))
            cells.push_back(cell);
        cells.resize(col.size());
        rows.push_back(cells);
    }
    auto num = [&](const std::vector<std::string>& r, const char* name) {
        return std::stod(r[col[name]]);
    };
    double lastU = -2, hiddenFrom = -1, hiddenTo = -1, lastT = -1;
    int trackingRows = 0, followedRows = 0, ids = 0;
    for (const auto& r : rows) {
        double t = num(r, "scene_t");
        EXPECT_GE(t, lastT);
        lastT = t;
        double u = num(r, "p_u");
        EXPECT_GE(u, lastU - 0.02); // walking right, the camera still
        lastU = u;
        // Straight ahead at t = 4 (u = 0); the trace's object is the
        // scenario's, not the latency-delayed picture.
        if (std::fabs(t - 4.0) < 0.02) {
            EXPECT_NEAR(u, 0.0, 0.02);
        }
        EXPECT_LT(std::fabs(num(r, "p_v")), 0.5);
        bool detected = r[col["p_detected"]] == "1";
        if (!detected && t > 2.0 && hiddenFrom < 0)
            hiddenFrom = t;
        if (detected && hiddenFrom > 0 && hiddenTo < 0)
            hiddenTo = t;
        if (detected) {
            EXPECT_EQ(num(r, "p_id"), id);
            ids++;
        }
        // The two events arrive apart: either may be the latest.
        trackingRows += r[col["tracking"]] == "1";
        followedRows += num(r, "tracked_id") == id;
        EXPECT_TRUE(num(r, "tracked_id") == id || num(r, "tracked_id") == -1);
    }
    EXPECT_GT(ids, 100);
    EXPECT_GT(trackingRows, 50);
    EXPECT_GT(followedRows, 50);
    EXPECT_EQ(rows.front()[col["tracking"]], "0");
    EXPECT_EQ(rows.back()[col["tracking"]], "0");
    EXPECT_EQ(num(rows.back(), "tracked_id"), -1);
    // Hidden behind the pillar for about half a second, same id after.
    EXPECT_NEAR(hiddenFrom, 3.0, 0.3);
    EXPECT_NEAR(hiddenTo - hiddenFrom, 0.55, 0.2);
}

TEST(FeedsLive, ScenarioPanStopsHoldTheCamera)
{
    CamsimFeeds camsim(R"({"camera": {"pan": 0, "tilt": -5, "pan_min": -20, "pan_max": 30}})");
    camsim.control({{"cmd", "move"}, {"pan", 90}, {"space", "degrees"}});
    nlohmann::json pose;
    ASSERT_TRUE(testsupport::waitFor([&] {
        pose = camsim.control({{"cmd", "pose"}});
        return pose["pan"].get<double>() >= 30.0 - 1e-9;
    }));
    EXPECT_DOUBLE_EQ(pose["pan"].get<double>(), 30.0);
    EXPECT_TRUE(pose["status"].get<int>() & 0x08);
    // The control command lifts them: the head turns on.
    camsim.control({{"cmd", "pan-limits"}});
    EXPECT_TRUE(testsupport::waitFor([&] {
        return camsim.control({{"cmd", "pose"}})["pan"].get<double>() > 35.0;
    }));
    EXPECT_THROW(camsim.control({{"cmd", "pan-limits"}, {"min", 10}, {"max", 5}}),
                 std::runtime_error);
}

TEST_F(Feeds, SubscribingWithoutCamsim)
{
    testsupport::TempDir dir("nocam");
    setenv("CAMROOT", dir.path().c_str(), 1);
    // Detection feed: subscribe succeeds, the teardown callback says the feed is gone.
    DetSub det;
    ASSERT_EQ(det.subscribe(), 0);
    EXPECT_TRUE(det.teardowns.waitCount(1));
    EXPECT_EQ(detfeed_running(det.h), 0);
    // Scene feed without reconnection refuses; with it, it keeps trying.
    EXPECT_EQ(sceneSubscribe(false), nullptr);
    scenefeed_subscriber* h = sceneSubscribe(true);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(scenefeed_delete(h), 0);
    // Broker: the connection fails with an error object.
    mbx_error* err = nullptr;
    EXPECT_EQ(mbx_connection_create(onMbxError, nullptr, &err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(err->code, MBX_ERROR_CONNECTION_FAILED);
    mbx_error_destroy(&err);
    EXPECT_EQ(err, nullptr);
    unsetenv("CAMROOT");
}

} // namespace

namespace
{

// TOOLS

TEST(FeedsTools, SubscribersPrintWhatTheyReceive)
{
    CamsimFeeds camsim(kWalker);
    std::map<std::string, std::string> env{{"CAMROOT", camsim.root()}};
    std::string raw = camsim.dir().path() + "/raw";
    ASSERT_EQ(std::system(("mkdir -p " + raw).c_str()), 0);

    testsupport::ChildProcess det({DETFEED_SUB, "--count", "5", "--raw", raw}, env);
    ASSERT_EQ(det.waitExit(std::chrono::seconds(20)), 0) << det.output();
    std::string out = det.output();
    EXPECT_NE(out.find("subscribed\n"), std::string::npos) << out;
    EXPECT_NE(out.find("frame ts_ns="), std::string::npos) << out;
    EXPECT_NE(out.find("det id="), std::string::npos) << out;
    std::string cmd = std::string(PROTOC) + " --decode=VOD.Scene -I " + PROTO_DIR +
                      " vod.proto < " + raw + "/vod-000001.bin > " + raw + "/vod.txt";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_NE(testsupport::readFile(raw + "/vod.txt").find("detections {"), std::string::npos);

    testsupport::ChildProcess info({DETFEED_SUB, "--info"}, env);
    ASSERT_EQ(info.waitExit(std::chrono::seconds(20)), 0);
    EXPECT_NE(info.output().find("class id=6 name=animal"), std::string::npos) << info.output();

    testsupport::ChildProcess scene({SCENEFEED_SUB, "--count", "3"}, env);
    ASSERT_EQ(scene.waitExit(std::chrono::seconds(20)), 0) << scene.output();
    EXPECT_NE(scene.output().find("connected\n"), std::string::npos);
    EXPECT_NE(scene.output().find("scene length="), std::string::npos);
    EXPECT_NE(scene.output().find("object id="), std::string::npos);

    testsupport::ChildProcess mbx({MBX_SUB, "--count", "2"}, env);
    ASSERT_EQ(mbx.waitExit(std::chrono::seconds(20)), 0) << mbx.output();
    EXPECT_NE(mbx.output().find("ready\n"), std::string::npos);
    EXPECT_NE(mbx.output().find("observations=1"), std::string::npos) << mbx.output();
}

} // namespace
