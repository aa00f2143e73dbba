// libptzlink against a scripted driver on a socket pair: replies matched to
// requests, malformed and missing replies refused, a vanished driver reported
// at once and reconnected through the callbacks.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ptzlink.h"
#include "ptzlink_protocol.h"

namespace
{

using Bytes = std::vector<unsigned char>;

Bytes packet(uint16_t type, uint32_t seq, int32_t status, const void* payload, std::size_t n)
{
    ptzlink_header h{PTZLINK_MAGIC, PTZLINK_VERSION, type, seq, status, static_cast<uint32_t>(n)};
    Bytes b(sizeof h + n);
    std::memcpy(b.data(), &h, sizeof h);
    if (n > 0)
        std::memcpy(b.data() + sizeof h, payload, n);
    return b;
}

// A driver thread answering each request with what `script` returns (no
// packets: no reply). Every socket it hands out counts as one connection.
class FakeDriver
{
public:
    using Script = std::function<std::vector<Bytes>(const ptzlink_header&, const Bytes& payload)>;

    explicit FakeDriver(Script script) : script_(std::move(script)) {}
    ~FakeDriver() { closeDriverEnd(); }

    static int onConnect(int channel, int* fd, int* handle, void* data)
    {
        auto* self = static_cast<FakeDriver*>(data);
        self->lastChannel = channel;
        if (self->refuseConnect)
            return -1;
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
            return -1;
        self->closeDriverEnd();
        self->driverFd_ = sv[0];
        self->stop_ = false;
        self->thread_ = std::thread([self, fd = sv[0]] { self->serve(fd); });
        *fd = sv[1];
        *handle = ++self->connects;
        return 0;
    }

    static int onDisconnect(int, int handle, void* data)
    {
        static_cast<FakeDriver*>(data)->disconnected.push_back(handle);
        return 0;
    }

    // Closes the driver's end, as a driver that dies would.
    void closeDriverEnd()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (driverFd_ >= 0)
            close(driverFd_);
        driverFd_ = -1;
    }

    void send(const Bytes& b) { ::send(driverFd_, b.data(), b.size(), MSG_NOSIGNAL); }

    int connects = 0;
    int lastChannel = 0;
    bool refuseConnect = false;
    std::vector<int> disconnected;
    std::atomic<int> requests{0};

private:
    void serve(int fd)
    {
        unsigned char buf[PTZLINK_MAX_PACKET];
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            ptzlink_header h;
            std::memcpy(&h, buf, sizeof h);
            Bytes payload(buf + sizeof h, buf + n);
            ++requests;
            for (auto& reply : script_(h, payload))
                ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
    }

    Script script_;
    int driverFd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

Bytes okReply(const ptzlink_header& h, const void* payload = nullptr, std::size_t n = 0)
{
    return packet(static_cast<uint16_t>(h.type | PTZLINK_MSG_REPLY), h.seq, 0, payload, n);
}

ptzlink_datacache_reply poseReply(float pan)
{
    return ptzlink_datacache_reply{0x13, 1.5f, -2.5f, pan, -10.0f, 60.0f, 34.0f, 1.0f};
}

class PtzlinkDriver : public ::testing::Test
{
protected:
    void SetUp() override { setenv("PTZLINK_TIMEOUT_MS", "150", 1); }
    void TearDown() override
    {
        // The client goes first: deleting it calls the driver's disconnect.
        if (client > 0)
            ptzlink_client_delete(client);
        driver.reset();
        unsetenv("PTZLINK_TIMEOUT_MS");
    }
    FakeDriver& start(FakeDriver::Script script)
    {
        driver = std::make_unique<FakeDriver>(std::move(script));
        client = ptzlink_client_create(1, 0);
        EXPECT_GT(client, 0);
        EXPECT_EQ(ptzlink_client_set_dbus_interface(client, FakeDriver::onConnect,
                                                    FakeDriver::onDisconnect, driver.get()),
                  PTZLINK_OK);
        EXPECT_EQ(ptzlink_client_start(client, 0), PTZLINK_OK);
        return *driver;
    }
    int client = 0;
    std::unique_ptr<FakeDriver> driver;
};

} // namespace

TEST_F(PtzlinkDriver, RequestsCarryTheirPayloadAndReadReplies)
{
    ptzlink_move_req lastMove{};
    ptzlink_datacache_req lastRead{};
    FakeDriver& d = start([&](const ptzlink_header& h, const Bytes& p) -> std::vector<Bytes> {
        if (h.type == PTZLINK_MSG_MOVE)
            std::memcpy(&lastMove, p.data(), sizeof lastMove);
        if (h.type == PTZLINK_MSG_DATACACHE) {
            std::memcpy(&lastRead, p.data(), sizeof lastRead);
            auto r = poseReply(12.5f);
            return {okReply(h, &r, sizeof r)};
        }
        return {okReply(h)};
    });
    EXPECT_EQ(d.lastChannel, 1);
    EXPECT_EQ(ptzlink_continuous_move(client, 10, -20, 30), PTZLINK_OK);
    EXPECT_EQ(lastMove.pan, 10);
    EXPECT_EQ(lastMove.tilt, -20);
    EXPECT_EQ(lastMove.zoom, 30);

    float pan = 0, tilt = 0, ps = 0, ts = 0, hfov = 0, vfov = 0, zoom = 0;
    uint32_t status = 0;
    EXPECT_EQ(ptzlink_get_datacache_value(client, 12, 345678, &pan, &tilt, &status, &ps, &ts, &hfov,
                                          &vfov, &zoom),
              PTZLINK_OK);
    EXPECT_EQ(lastRead.seconds, 12);
    EXPECT_EQ(lastRead.microseconds, 345678);
    EXPECT_EQ(pan, 12.5f);
    EXPECT_EQ(tilt, -10.0f);
    EXPECT_EQ(status, 0x13u);
    EXPECT_EQ(ps, 1.5f);
    EXPECT_EQ(ts, -2.5f);
    EXPECT_EQ(hfov, 60.0f);
    EXPECT_EQ(vfov, 34.0f);
    EXPECT_EQ(zoom, 1.0f);
    EXPECT_EQ(ptzlink_get_datacache_value(client, 1, 1000000, &pan, nullptr, nullptr, nullptr,
                                          nullptr, nullptr, nullptr, nullptr),
              PTZLINK_ERR_ARGUMENT);
}

TEST_F(PtzlinkDriver, SpaceListIsCopiedForTheCaller)
{
    start([&](const ptzlink_header& h, const Bytes&) -> std::vector<Bytes> {
        Bytes body(sizeof(ptzlink_spaces_reply_head) + 2 * sizeof(ptzlink_space));
        ptzlink_spaces_reply_head head{2, 1};
        ptzlink_space s[2] = {{256, 1, -100, 100, 3, 0}, {256, 3, -2, 2, 3, 0}};
        std::memcpy(body.data(), &head, sizeof head);
        std::memcpy(body.data() + sizeof head, s, sizeof s);
        const char names[] = "a\nb\n";
        body.insert(body.end(), names, names + 4);
        return {okReply(h, body.data(), body.size())};
    });
    int count = 0, selected = -2;
    ptzlink_space* spaces = nullptr;
    char* names = nullptr;
    ASSERT_EQ(ptzlink_get_spaces(client, &count, &spaces, &selected, &names), PTZLINK_OK);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(selected, 1);
    EXPECT_EQ(spaces[1].kind, 256);
    EXPECT_EQ(spaces[1].id, 3);
    EXPECT_STREQ(names, "a\nb\n");
    free(spaces);
    free(names);
    static_assert(sizeof(ptzlink_space) == 24);
}

TEST_F(PtzlinkDriver, MalformedRepliesAreRefused)
{
    int mode = 0;
    FakeDriver& d = start([&](const ptzlink_header& h, const Bytes&) -> std::vector<Bytes> {
        auto r = poseReply(1);
        Bytes b = okReply(h, &r, sizeof r);
        switch (mode) {
        case 0: // corrupt magic
            b[0] ^= 0xff;
            return {b};
        case 1: // shorter than its header says
            b.resize(b.size() - 4);
            return {b};
        case 2: // wrong reply type
            return {packet(PTZLINK_MSG_MOVE | PTZLINK_MSG_REPLY, h.seq, 0, &r, sizeof r)};
        case 3: // a sequence number from the future
            return {packet(static_cast<uint16_t>(h.type | PTZLINK_MSG_REPLY), h.seq + 5, 0, &r,
                           sizeof r)};
        case 4: // payload of the wrong size
            return {okReply(h, &r, sizeof r - 4)};
        case 5: { // a space list whose count exceeds its payload
            ptzlink_spaces_reply_head head{1000, 0};
            return {okReply(h, &head, sizeof head)};
        }
        default: // runt packet
            return {Bytes{1, 2, 3}};
        }
    });
    for (mode = 0; mode <= 6; ++mode) {
        float pan = 0;
        int r;
        if (mode == 5) {
            int count = 0;
            ptzlink_space* spaces = nullptr;
            r = ptzlink_get_spaces(client, &count, &spaces, nullptr, nullptr);
            EXPECT_EQ(spaces, nullptr);
        } else {
            r = ptzlink_get_datacache_value(client, 0, 0, &pan, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr);
        }
        EXPECT_EQ(r, PTZLINK_ERR_PROTOCOL) << "mode " << mode;
    }
    EXPECT_EQ(d.connects, 1); // the connection survives bad packets
}

TEST_F(PtzlinkDriver, MissingReplyTimesOutAndItsLateReplyIsNotTakenForTheNext)
{
    std::atomic<int> n{0};
    std::vector<uint32_t> seqs;
    start([&](const ptzlink_header& h, const Bytes&) -> std::vector<Bytes> {
        seqs.push_back(h.seq);
        if (n++ == 0)
            return {}; // first request: no answer yet
        auto late = poseReply(111);
        auto right = poseReply(222);
        // The late answer to the first request arrives just before the right one.
        return {packet(static_cast<uint16_t>(h.type | PTZLINK_MSG_REPLY), seqs[0], 0, &late,
                       sizeof late),
                okReply(h, &right, sizeof right)};
    });
    float pan = 0;
    EXPECT_EQ(ptzlink_get_datacache_value(client, 0, 0, &pan, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, nullptr, nullptr),
              PTZLINK_ERR_TIMEOUT);
    EXPECT_EQ(ptzlink_get_datacache_value(client, 0, 0, &pan, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, nullptr, nullptr),
              PTZLINK_OK);
    EXPECT_EQ(pan, 222.0f);
}

TEST_F(PtzlinkDriver, DriverRefusalsAndMissingRecordsAreReported)
{
    start([&](const ptzlink_header& h, const Bytes&) -> std::vector<Bytes> {
        int32_t status = h.type == PTZLINK_MSG_DATACACHE ? -ERANGE : -EINVAL;
        return {
            packet(static_cast<uint16_t>(h.type | PTZLINK_MSG_REPLY), h.seq, status, nullptr, 0)};
    });
    EXPECT_EQ(ptzlink_set_spaces(client, 999, 1), PTZLINK_ERR_REFUSED);
    EXPECT_EQ(ptzlink_get_datacache_value(client, 1, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, nullptr, nullptr),
              PTZLINK_ERR_NO_RECORD);
}

TEST_F(PtzlinkDriver, VanishedDriverFailsAtOnceAndIsReconnected)
{
    FakeDriver& d = start(
        [&](const ptzlink_header& h, const Bytes&) -> std::vector<Bytes> { return {okReply(h)}; });
    EXPECT_EQ(ptzlink_continuous_move(client, 1, 0, 0), PTZLINK_OK);
    d.closeDriverEnd();
    EXPECT_EQ(ptzlink_continuous_move(client, 1, 0, 0), PTZLINK_ERR_IO);
    ASSERT_EQ(d.disconnected.size(), 1u);
    EXPECT_EQ(d.disconnected[0], 1); // the handle the connect callback gave
    EXPECT_EQ(ptzlink_continuous_move(client, 1, 0, 0), PTZLINK_OK);
    EXPECT_EQ(d.connects, 2);

    d.closeDriverEnd();
    d.refuseConnect = true;
    EXPECT_EQ(ptzlink_continuous_move(client, 1, 0, 0), PTZLINK_ERR_IO);
    EXPECT_EQ(ptzlink_continuous_move(client, 1, 0, 0), PTZLINK_ERR_NOT_CONNECTED);
}

TEST(Ptzlink, LifecycleErrors)
{
    EXPECT_EQ(ptzlink_client_create(0, 0), PTZLINK_ERR_ARGUMENT);
    EXPECT_EQ(ptzlink_client_create(1, 7), PTZLINK_ERR_ARGUMENT);
    EXPECT_EQ(ptzlink_continuous_move(12345, 0, 0, 0), PTZLINK_ERR_ARGUMENT);
    int c = ptzlink_client_create(1, 0);
    ASSERT_GT(c, 0);
    // No callbacks, not started: nothing to talk to.
    EXPECT_EQ(ptzlink_continuous_move(c, 0, 0, 0), PTZLINK_ERR_NOT_CONNECTED);
    EXPECT_EQ(ptzlink_client_start(c, 0), PTZLINK_ERR_NOT_CONNECTED);
    EXPECT_EQ(ptzlink_client_stop(c), PTZLINK_OK);
    EXPECT_EQ(ptzlink_client_delete(c), PTZLINK_OK);
    EXPECT_EQ(ptzlink_client_delete(c), PTZLINK_ERR_ARGUMENT);
    EXPECT_EQ(ptzlink_client_stop(c), PTZLINK_ERR_ARGUMENT);
}

TEST(Ptzlink, DriverThatStopsReadingNeverBlocksTheCaller)
{
    setenv("PTZLINK_TIMEOUT_MS", "1", 1);
    static int driverEnd = -1;
    auto connectFn = [](int, int* fd, int* handle, void*) {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
            return -1;
        driverEnd = sv[0]; // nobody reads it
        *fd = sv[1];
        *handle = 1;
        return 0;
    };
    int c = ptzlink_client_create(1, 0);
    ptzlink_client_set_dbus_interface(c, connectFn, nullptr, nullptr);
    ASSERT_EQ(ptzlink_client_start(c, 0), PTZLINK_OK);
    // More requests than the socket queues: later ones cannot even be sent.
    int timeouts = 0;
    for (int i = 0; i < 200; ++i)
        timeouts += ptzlink_continuous_move(c, 1, 0, 0) == PTZLINK_ERR_TIMEOUT;
    EXPECT_EQ(timeouts, 200);
    ptzlink_client_delete(c);
    close(driverEnd);
    unsetenv("PTZLINK_TIMEOUT_MS");
}
