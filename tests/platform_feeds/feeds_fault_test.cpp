// Malformed and truncated frames on the wire, from a scripted fake camera:
// the stand-in libraries drop or refuse them and keep going, never crash.
#include <detfeed.h>
#include <mbx.h>
#include <scenefeed.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "feedwire.h"
#include "recorder.h"
#include "scene.pb-c.h"
#include "support/temp_dir.h"
#include "vod.pb-c.h"

using namespace feedstest;
using Bytes = std::vector<std::uint8_t>;

namespace
{

// A fake camera socket serving one connection with a script.
class FakeCamera
{
public:
    FakeCamera(const std::string& root, const char* socketPath, std::function<void(int fd)> script)
    {
        char* path = feedwire_resolve(socketPath);
        path_ = path;
        free(path);
        std::string dir = path_.substr(0, path_.rfind('/'));
        std::string cmd = "mkdir -p '" + dir + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        (void)root;
        listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
        unlink(path_.c_str());
        EXPECT_EQ(bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(listen_, 4), 0);
        thread_ = std::thread([this, script] {
            int fd = accept(listen_, nullptr, nullptr);
            if (fd < 0)
                return;
            script(fd);
            close(fd);
        });
    }
    ~FakeCamera()
    {
        shutdown(listen_, SHUT_RDWR);
        thread_.join();
        close(listen_);
        unlink(path_.c_str());
    }

private:
    std::string path_;
    int listen_ = -1;
    std::thread thread_;
};

// Reads one request frame (so that replies follow it).
void readRequest(int fd)
{
    feedwire_header h;
    uint8_t* body = nullptr;
    if (feedwire_recv(fd, -1, 5000, &h, &body) == FEEDWIRE_OK)
        free(body);
}

void sendRaw(int fd, const Bytes& bytes)
{
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}

Bytes validVodScene(std::uint64_t ts)
{
    VOD__Scene s;
    vod__scene__init(&s);
    s.timestamp = ts;
    Bytes out(vod__scene__get_packed_size(&s));
    vod__scene__pack(&s, out.data());
    return out;
}

// A protobuf that cannot decode: field 2 (detections) claims 16 bytes, has 1.
const Bytes kBadProtobuf = {0x12, 0x10, 0x01};

struct Fault : ::testing::Test {
    testsupport::TempDir dir{"feedfault"};
    void SetUp() override { setenv("CAMROOT", dir.path().c_str(), 1); }
    void TearDown() override { unsetenv("CAMROOT"); }
};

// DETECTION FEED

struct DetRecorder {
    Recorder<std::uint64_t> frames;
    Recorder<int> teardowns;
    static void onDetection(const uint8_t* data, size_t len, void* user)
    {
        VOD__Scene* s = vod__scene__unpack(nullptr, len, data);
        ASSERT_NE(s, nullptr); // only decodable frames get here
        static_cast<DetRecorder*>(user)->frames.add(s->timestamp);
        vod__scene__free_unpacked(s, nullptr);
    }
    static void onTeardown(void* user) { static_cast<DetRecorder*>(user)->teardowns.add(1); }
};

detfeed_subscriber* detSubscribe(DetRecorder& r)
{
    detfeed_subscriber* h = nullptr;
    EXPECT_EQ(detfeed_create(&h, &r, 0, nullptr), 0);
    detfeed_set_get_detection_callback(h, DetRecorder::onDetection);
    detfeed_set_teardown_callback(h, DetRecorder::onTeardown);
    detfeed_set_receive_empty_hits(h, 1);
    EXPECT_EQ(detfeed_subscribe(h), 0);
    return h;
}

TEST_F(Fault, DetectionFeedDropsUndecodableFramesAndTearsDownOnGarbage)
{
    FakeCamera cam(dir.path(), FEEDWIRE_DETFEED_SOCKET, [](int fd) {
        readRequest(fd);
        feedwire_send(fd, FEEDWIRE_DET_SUBSCRIBED, nullptr, 0);
        feedwire_send(fd, FEEDWIRE_DET_FRAME, kBadProtobuf.data(), kBadProtobuf.size());
        feedwire_send(fd, 0x7777, "x", 1); // unknown type: ignored
        Bytes ok = validVodScene(42);
        feedwire_send(fd, FEEDWIRE_DET_FRAME, ok.data(), ok.size());
        sendRaw(fd, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}); // not a frame
        usleep(200000);
    });
    DetRecorder r;
    detfeed_subscriber* h = detSubscribe(r);
    ASSERT_TRUE(r.teardowns.waitCount(1));
    EXPECT_EQ(r.frames.items(), std::vector<std::uint64_t>{42});
    EXPECT_EQ(detfeed_running(h), 0);
    EXPECT_EQ(detfeed_delete(&h), 0);
    EXPECT_EQ(h, nullptr);
}

TEST_F(Fault, DetectionFeedTruncatedFrameIsNotDelivered)
{
    FakeCamera cam(dir.path(), FEEDWIRE_DETFEED_SOCKET, [](int fd) {
        readRequest(fd);
        feedwire_send(fd, FEEDWIRE_DET_SUBSCRIBED, nullptr, 0);
        Bytes ok = validVodScene(7);
        Bytes frame(FEEDWIRE_HEADER_SIZE);
        feedwire_put_header(frame.data(), FEEDWIRE_DET_FRAME,
                            static_cast<std::uint32_t>(ok.size() + 100));
        frame.insert(frame.end(), ok.begin(), ok.end());
        sendRaw(fd, frame); // then the connection closes mid-frame
    });
    DetRecorder r;
    detfeed_subscriber* h = detSubscribe(r);
    ASSERT_TRUE(r.teardowns.waitCount(1));
    EXPECT_EQ(r.frames.size(), 0u);
    detfeed_delete(&h);
}

TEST_F(Fault, DetectorInformationThatDoesNotDecodeIsRefused)
{
    FakeCamera cam(dir.path(), FEEDWIRE_DETFEED_SOCKET, [](int fd) {
        readRequest(fd);
        feedwire_send(fd, FEEDWIRE_DET_INFO, kBadProtobuf.data(), kBadProtobuf.size());
    });
    detfeed_det_class** classes = nullptr;
    EXPECT_LT(detfeed_det_classes_get(&classes), 0);
    EXPECT_EQ(classes, nullptr);
}

TEST_F(Fault, SubscriptionRefusedByTheCameraIsATeardown)
{
    FakeCamera cam(dir.path(), FEEDWIRE_DETFEED_SOCKET, [](int fd) {
        readRequest(fd);
        std::string refusal = "\0\0\0\x13no such channel";
        feedwire_send(fd, FEEDWIRE_ERROR, refusal.data(), refusal.size());
    });
    DetRecorder r;
    detfeed_subscriber* h = detSubscribe(r);
    EXPECT_TRUE(r.teardowns.waitCount(1));
    detfeed_delete(&h);
}

TEST_F(Fault, DeleteFromInsideTheTeardownCallback)
{
    FakeCamera cam(dir.path(), FEEDWIRE_DETFEED_SOCKET, [](int fd) {
        readRequest(fd);
        feedwire_send(fd, FEEDWIRE_DET_SUBSCRIBED, nullptr, 0);
    });
    static detfeed_subscriber* handle = nullptr;
    static Recorder<int> done;
    done.clear();
    ASSERT_EQ(detfeed_create(&handle, nullptr, 0, nullptr), 0);
    detfeed_set_teardown_callback(handle, [](void*) {
        // What a client's restart does on the library thread.
        EXPECT_EQ(detfeed_running(handle), 0);
        EXPECT_EQ(detfeed_delete(&handle), 0);
        done.add(1);
    });
    ASSERT_EQ(detfeed_subscribe(handle), 0);
    EXPECT_TRUE(done.waitCount(1));
    EXPECT_EQ(handle, nullptr);
}

// SCENE FEED

Recorder<std::uint32_t>* gWords = nullptr;
Recorder<int>* gDisconnects = nullptr;

TEST_F(Fault, SceneFeedDropsMessagesWithAWrongLengthWord)
{
    Recorder<std::uint32_t> words;
    Recorder<int> disconnects;
    gWords = &words;
    gDisconnects = &disconnects;
    FakeCamera cam(dir.path(), FEEDWIRE_SCENEFEED_SOCKET, [](int fd) {
        readRequest(fd);
        feedwire_send(fd, FEEDWIRE_SCENE_SUBSCRIBED, nullptr, 0);
        // Length word too large, too small, bad protobuf, then good (empty scene: word 4).
        Bytes wrong = {0, 0, 0, 9, 0x08, 0x01};
        feedwire_send(fd, FEEDWIRE_SCENE_FRAME, wrong.data(), wrong.size());
        Bytes tiny = {0, 0, 0};
        feedwire_send(fd, FEEDWIRE_SCENE_FRAME, tiny.data(), tiny.size());
        Bytes bad = {0, 0, 0, 7, 0x12, 0x10, 0x01};
        feedwire_send(fd, FEEDWIRE_SCENE_FRAME, bad.data(), bad.size());
        Bytes empty = {0, 0, 0, 4};
        feedwire_send(fd, FEEDWIRE_SCENE_FRAME, empty.data(), empty.size());
        // A header with an impossible length ends the connection.
        Bytes huge(FEEDWIRE_HEADER_SIZE);
        feedwire_put_header(huge.data(), FEEDWIRE_SCENE_FRAME, 0xffffffffu);
        sendRaw(fd, huge);
        usleep(200000);
    });
    scenefeed_subscriber* h = scenefeed_create(0, SCENEFEED_FORMAT_FRAMED_PROTOBUF, nullptr);
    ASSERT_NE(h, nullptr);
    scenefeed_set_on_message_arrived_callback(h, [](uint8_t* buf) {
        gWords->add(feedwire_get_u32(buf));
        free(buf);
    });
    scenefeed_set_on_disconnect_callback(h, [](void*) { gDisconnects->add(1); });
    ASSERT_EQ(scenefeed_subscribe(h), 0);
    ASSERT_TRUE(disconnects.waitCount(1));
    EXPECT_EQ(words.items(), std::vector<std::uint32_t>{4});
    EXPECT_EQ(scenefeed_delete(h), 0);
}

TEST_F(Fault, SceneFeedRefusesEveryCallWithoutAHandle)
{
    EXPECT_EQ(scenefeed_create(0, 2, nullptr), nullptr); // unknown format
    EXPECT_EQ(scenefeed_create(-1, SCENEFEED_FORMAT_FRAMED_PROTOBUF, nullptr), nullptr);
    EXPECT_NE(scenefeed_set_on_connect_callback(nullptr, nullptr), 0);
    EXPECT_NE(scenefeed_set_on_disconnect_callback(nullptr, nullptr), 0);
    EXPECT_NE(scenefeed_set_on_message_arrived_callback(nullptr, nullptr), 0);
    EXPECT_NE(scenefeed_set_velocity_enabled(nullptr), 0);
    EXPECT_NE(scenefeed_set_bounding_box_enabled(nullptr), 0);
    EXPECT_NE(scenefeed_set_low_confident_enabled(nullptr), 0);
    EXPECT_NE(scenefeed_set_reconnect(nullptr, 1), 0);
    EXPECT_NE(scenefeed_subscribe(nullptr), 0);
    EXPECT_NE(scenefeed_unsubscribe(nullptr), 0);
    EXPECT_NE(scenefeed_delete(nullptr), 0);
    detfeed_subscriber* none = nullptr;
    EXPECT_NE(detfeed_subscribe(nullptr), 0);
    EXPECT_NE(detfeed_unsubscribe(nullptr), 0);
    EXPECT_NE(detfeed_delete(&none), 0);
    EXPECT_NE(detfeed_delete(nullptr), 0);
    EXPECT_EQ(detfeed_running(nullptr), 0);
}

// BROKER

Recorder<std::string>* gPayloads = nullptr;
Recorder<int>* gErrors = nullptr;

TEST_F(Fault, BrokerIgnoresShortMessagesAndReportsGarbage)
{
    Recorder<std::string> payloads;
    Recorder<int> errors;
    gPayloads = &payloads;
    gErrors = &errors;
    FakeCamera cam(dir.path(), FEEDWIRE_MBX_SOCKET, [](int fd) {
        readRequest(fd); // the subscription, id 1
        std::uint8_t id[4];
        feedwire_put_u32(id, 1);
        feedwire_send(fd, FEEDWIRE_MBX_SUBSCRIBED, id, sizeof id);
        feedwire_send(fd, FEEDWIRE_MBX_MESSAGE, id, sizeof id); // too short
        Bytes msg(16);
        feedwire_put_u32(msg.data(), 1);
        feedwire_put_u64(msg.data() + 4, 5000);
        feedwire_put_u32(msg.data() + 12, 1500000000u); // nanoseconds out of range
        feedwire_send(fd, FEEDWIRE_MBX_MESSAGE, msg.data(), msg.size());
        feedwire_put_u32(msg.data() + 12, 0);
        feedwire_put_u32(msg.data(), 99); // nobody's subscription
        feedwire_send(fd, FEEDWIRE_MBX_MESSAGE, msg.data(), msg.size());
        feedwire_put_u32(msg.data(), 1);
        std::string text = R"({"frame": {"observations": []}})";
        msg.insert(msg.end(), text.begin(), text.end());
        feedwire_send(fd, FEEDWIRE_MBX_MESSAGE, msg.data(), msg.size());
        sendRaw(fd, {'j', 'u', 'n', 'k', 0, 0, 0, 0});
        usleep(200000);
    });
    mbx_error* err = nullptr;
    mbx_connection* conn = mbx_connection_create(
        [](const mbx_error* e, void*) { gErrors->add(e->code); }, nullptr, &err);
    ASSERT_NE(conn, nullptr);
    mbx_subscriber_config* cfg = mbx_subscriber_config_create(
        "t", "1",
        [](const mbx_message* m, void*) {
            EXPECT_EQ(mbx_message_get_timestamp(m)->tv_sec, 5000);
            gPayloads->add(mbx_message_get_payload(m)->data);
        },
        nullptr, &err);
    mbx_subscriber* sub = mbx_subscriber_create_async(conn, cfg, nullptr, nullptr, &err);
    mbx_subscriber_config_destroy(&cfg);
    ASSERT_TRUE(errors.waitCount(1));
    EXPECT_EQ(payloads.items(), std::vector<std::string>{R"({"frame": {"observations": []}})"});
    mbx_subscriber_destroy(&sub);
    mbx_connection_destroy(&conn);
}

TEST_F(Fault, BrokerArgumentsAreChecked)
{
    mbx_error* err = nullptr;
    EXPECT_EQ(mbx_subscriber_config_create(
                  nullptr, "1", [](const mbx_message*, void*) {}, nullptr, &err),
              nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(err->code, MBX_ERROR_INVALID_ARGUMENT);
    mbx_error_destroy(&err);
    EXPECT_EQ(mbx_subscriber_create_async(nullptr, nullptr, nullptr, nullptr, &err), nullptr);
    mbx_error_destroy(&err);
    EXPECT_EQ(mbx_message_get_timestamp(nullptr), nullptr);
    EXPECT_EQ(mbx_message_get_payload(nullptr), nullptr);
    mbx_subscriber_destroy(nullptr);
    mbx_connection_destroy(nullptr);
    mbx_error_destroy(nullptr);
}

} // namespace
