// The real korund against camsim: VISCA on a pseudo-terminal pair and on UDP,
// the CGI API through lighttpd and the relay, start-up and shutdown rules.
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "daemon_fixture.h"
#include "support/http_client.h"
#include "support/wait.h"

using nlohmann::json;
using namespace testsupport;
using namespace std::chrono_literals;

namespace
{

const std::string kSerialConfig = "[korund]\nenabled=true\ninterface=viscaOverSerial\n"
                                  "serialConfiguration=pointToPoint\nbaudRate=9600\n";
const std::string kIpConfig = "[korund]\nenabled=true\ninterface=viscaOverIP\n"
                              "serialConfiguration=pointToPoint\nbaudRate=9600\n";

const Bytes kAck = {0x90, 0x41, 0xFF};
const Bytes kCompletion = {0x90, 0x51, 0xFF};
const Bytes kAckCompletion = {0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF};
const Bytes kError = {0x90, 0x61, 0x41, 0xFF};
const Bytes kZoomTele = {0x81, 0x01, 0x04, 0x07, 0x02, 0xFF};
const Bytes kZoomStop = {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF};

Bytes concat(Bytes a, const Bytes& b)
{
    for (unsigned char c : b) // (insert() trips a g++ 12 -Warray-bounds false positive)
        a.push_back(c);
    return a;
}

// pan and tilt in degrees from an 11-byte position reply 90 50 0p0p0p0p 0t0t0t0t FF
std::pair<double, double> position(const Bytes& reply)
{
    auto nibbles = [&](size_t at) {
        int v = (reply[at] & 15) << 12 | (reply[at + 1] & 15) << 8 | (reply[at + 2] & 15) << 4 |
                (reply[at + 3] & 15);
        return static_cast<int16_t>(v) / 51.2;
    };
    return {nibbles(2), nibbles(6)};
}

Bytes absolutePanTilt(double pan, double tilt)
{
    auto enc = [](double deg) {
        auto v = static_cast<uint16_t>(static_cast<int16_t>(deg * 51.2));
        return Bytes{static_cast<unsigned char>(v >> 12 & 15),
                     static_cast<unsigned char>(v >> 8 & 15),
                     static_cast<unsigned char>(v >> 4 & 15), static_cast<unsigned char>(v & 15)};
    };
    Bytes cmd = {0x81, 0x01, 0x06, 0x02, 0x18, 0x18};
    cmd = concat(cmd, enc(pan));
    cmd = concat(cmd, enc(tilt));
    cmd.push_back(0xFF);
    return cmd;
}

Bytes ipFrame(uint32_t seq, const Bytes& payload, unsigned char cls = 0x01,
              unsigned char type = 0x00)
{
    Bytes d = {cls,
               type,
               static_cast<unsigned char>(payload.size() >> 8),
               static_cast<unsigned char>(payload.size()),
               static_cast<unsigned char>(seq >> 24),
               static_cast<unsigned char>(seq >> 16),
               static_cast<unsigned char>(seq >> 8),
               static_cast<unsigned char>(seq)};
    return concat(d, payload);
}

Bytes ipReply(uint32_t seq, const Bytes& payload)
{
    return ipFrame(seq, payload, 0x01, 0x11);
}

json cgi(KorundRig& rig, const json& request)
{
    HttpReply reply = httpPost(rig.cgiUrl(), request.dump());
    EXPECT_EQ(reply.status, 200) << reply.body << rig.daemon().output();
    return json::parse(reply.body, nullptr, false);
}

json call(KorundRig& rig, const std::string& method, const json& params = nullptr)
{
    json request = {{"apiVersion", "1.0"}, {"method", method}, {"context", "t"}};
    if (!params.is_null())
        request["params"] = params;
    return cgi(rig, request);
}

int code(const json& reply)
{
    return reply.contains("error") ? reply["error"]["code"].get<int>() : 0;
}

// The daemon starts as root and drops to "ptzadm" (tools/install-deps.sh creates it).
#define REQUIRE_ROOT()                                                                             \
    do {                                                                                           \
        if (geteuid() != 0 || getpwnam("ptzadm") == nullptr)                                       \
            GTEST_SKIP() << "needs root and the user ptzadm";                                      \
    } while (0)

// SERIAL ---------------------------------------------------------------------

TEST(KorundSerial, PointToPointAnswersAndPassesOnThroughTheInputPort)
{
    REQUIRE_ROOT();
    KorundRig rig(kSerialConfig);
    const PtyPair& in = rig.in();

    in.write(concat({0x00, 0x12, 0x34, 0x7F, 0x83, 0x55}, kZoomTele));
    EXPECT_EQ(in.read(3s, 6), kAckCompletion) << rig.daemon().output();
    in.write(kZoomStop);
    EXPECT_EQ(in.read(3s, 6), kAckCompletion);

    Bytes run(300, 0x22);
    run[0] = 0x81;
    in.write(run);
    in.write(kZoomStop);
    EXPECT_EQ(in.read(3s, 6), kAckCompletion) << "the overlong run must be dropped silently";

    Bytes other = {0x82, 0x01, 0x04, 0x07, 0x02, 0xFF};
    in.write(other);
    EXPECT_EQ(in.read(2s, other.size()), other) << "point to point: back out of the input port";
    EXPECT_TRUE(rig.out().read(300ms).empty());

    in.write({0x88, 0x30, 0x01, 0xFF});
    EXPECT_EQ(in.read(2s, 4), (Bytes{0x88, 0x30, 0x02, 0xFF}));

    Bytes fromNext = {0xA0, 0x50, 0x02, 0xFF};
    rig.out().write(concat({0x01, 0x02}, fromNext));
    EXPECT_EQ(in.read(2s, 4), fromNext) << "replies from the output port are passed back";

    in.write({0x81, 0x01, 0x04, 0x07, 0x2F, 0xFF});
    EXPECT_EQ(in.read(2s, 4), kError);
}

TEST(KorundSerial, MovesTheCameraAndReadsItBack)
{
    REQUIRE_ROOT();
    KorundRig rig(kSerialConfig);
    const PtyPair& in = rig.in();

    in.write(absolutePanTilt(20.0, -10.0));
    EXPECT_EQ(in.read(3s, 6), kAckCompletion) << rig.daemon().output();
    std::pair<double, double> pt;
    bool reached = waitFor(
        [&] {
            in.write({0x81, 0x09, 0x06, 0x12, 0xFF});
            Bytes reply = in.read(2s, 11);
            if (reply.size() != 11)
                return false;
            pt = position(reply);
            return std::abs(pt.first - 20.0) < 0.5 && std::abs(pt.second + 10.0) < 0.5;
        },
        15s);
    EXPECT_TRUE(reached) << pt.first << " " << pt.second;

    in.write({0x81, 0x09, 0x00, 0x02, 0xFF});
    Bytes version = in.read(2s, 10);
    ASSERT_EQ(version.size(), 10u);
    EXPECT_EQ(version[2], 'Z');
    EXPECT_EQ(version[3], 'T');
}

TEST(KorundSerial, DaisyChainSendsEverythingThroughTheOutputPort)
{
    REQUIRE_ROOT();
    KorundRig rig("[korund]\nenabled=true\ninterface=viscaOverSerial\n"
                  "serialConfiguration=daisyInChain\nbaudRate=38400\n");
    Bytes other = {0x82, 0x09, 0x04, 0x47, 0xFF};
    rig.in().write(other);
    EXPECT_EQ(rig.out().read(2s, other.size()), other) << rig.daemon().output();
    rig.in().write(kZoomStop);
    EXPECT_EQ(rig.out().read(2s, 6), kAckCompletion);
    rig.in().write({0x88, 0x30, 0x01, 0xFF});
    EXPECT_EQ(rig.out().read(2s, 4), (Bytes{0x88, 0x30, 0x02, 0xFF}));
    EXPECT_TRUE(rig.in().read(300ms).empty());
}

// A line whose other side hangs up is closed; the next configuration change
// opens it again.
TEST(KorundSerial, LineThatHungUpIsReopenedByTheNextReconfigure)
{
    REQUIRE_ROOT();
    KorundRig rig(kSerialConfig);
    rig.in().write(kZoomStop);
    ASSERT_EQ(rig.in().read(3s, 6), kAckCompletion) << rig.daemon().output();

    rig.hangUpIn();
    ASSERT_TRUE(rig.daemon().waitForOutput("Failed to read from channel")) << rig.daemon().output();
    rig.reconnectIn();
    for (const char* mode : {"daisyInChain", "pointToPoint"})
        ASSERT_EQ(code(call(rig, "setSerialConfiguration", {{"serialConfiguration", mode}})), 0);
    rig.in().write(kZoomStop);
    EXPECT_EQ(rig.in().read(3s, 6), kAckCompletion) << rig.daemon().output();
}

// UDP ------------------------------------------------------------------------

TEST(KorundUdp, CommandsInquiriesAndControl)
{
    REQUIRE_ROOT();
    KorundRig rig(kIpConfig);
    UdpPeer peer;
    const int port = rig.viscaPort();

    peer.sendTo(port, ipFrame(0x11223344, kZoomTele));
    EXPECT_EQ(peer.receive(), ipReply(0x11223344, kAck)) << rig.daemon().output();
    EXPECT_EQ(peer.receive(), ipReply(0x11223344, kCompletion));
    peer.sendTo(port, ipFrame(5, kZoomStop));
    EXPECT_EQ(peer.receive(), ipReply(5, kAck));
    EXPECT_EQ(peer.receive(), ipReply(5, kCompletion));

    peer.sendTo(port, ipFrame(6, {0x82, 0x01, 0x04, 0x07, 0x02, 0xFF}));
    EXPECT_EQ(peer.receive(), ipReply(6, kError)) << "another device's packet is refused";

    peer.sendTo(port, ipFrame(7, {}));              // 8 bytes
    peer.sendTo(port, ipFrame(8, Bytes(17, 0x01))); // 25 bytes
    peer.sendTo(port, ipFrame(9, {0x01}, 0x02, 0x00));
    EXPECT_EQ(peer.receive(), ipFrame(9, {0x01}, 0x02, 0x01)) << "control reset, nothing before it";

    peer.sendTo(port, ipFrame(10, absolutePanTilt(-30.0, 5.0)));
    EXPECT_EQ(peer.receive(), ipReply(10, kAck));
    EXPECT_EQ(peer.receive(), ipReply(10, kCompletion));
    std::pair<double, double> pt;
    bool reached = waitFor(
        [&] {
            peer.sendTo(port, ipFrame(11, {0x81, 0x09, 0x06, 0x12, 0xFF}));
            Bytes reply = peer.receive();
            if (reply.size() != 19)
                return false;
            pt = position(Bytes(reply.begin() + 8, reply.end()));
            return std::abs(pt.first + 30.0) < 0.5 && std::abs(pt.second - 5.0) < 0.5;
        },
        15s);
    EXPECT_TRUE(reached) << pt.first << " " << pt.second;

    int status = rig.daemon().stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << rig.daemon().output();
    EXPECT_NE(rig.daemon().output().find("korund: exiting"), std::string::npos);
}

std::string text(const Bytes& b)
{
    return std::string(b.begin(), b.end());
}

// The UDP ports are not shared: a second instance fails to bind and ends,
// the first keeps answering.
TEST(KorundUdp, SecondInstanceCannotShareThePorts)
{
    REQUIRE_ROOT();
    KorundRig rig(kIpConfig);
    auto second = rig.startSecondInstance(kIpConfig);
    int status = second->waitExit(15s);
    ASSERT_NE(status, -1) << second->output();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << second->output();
    EXPECT_NE(second->output().find("Socket bind failed"), std::string::npos) << second->output();
    EXPECT_NE(second->output().find("Failed to setup UDP socket"), std::string::npos);

    UdpPeer peer;
    peer.sendTo(rig.viscaPort(), ipFrame(5, kZoomStop));
    EXPECT_EQ(peer.receive(), ipReply(5, kAck)) << rig.daemon().output();
}

TEST(KorundUdp, NetworkSettingsDiscovery)
{
    REQUIRE_ROOT();
    KorundRig rig(kIpConfig);
    UdpPeer peer;

    std::string enq = "\x02"
                      "ENQ:network\xff\x03";
    peer.sendTo(rig.netsetPort(), Bytes(enq.begin(), enq.end()));
    std::string reply = text(peer.receive());
    ASSERT_FALSE(reply.empty()) << rig.daemon().output();
    EXPECT_EQ(reply.front(), '\x02');
    EXPECT_EQ(reply.back(), '\x03');
    for (const char* field : {"INFO:network\xff", "MODEL:IPCARD\xff", "SOFTVERSION:1.20\xff",
                              "WRITE:off\xff", "IPADR:", "MASK:", "GATEWAY:"})
        EXPECT_NE(reply.find(field), std::string::npos) << field;
    EXPECT_NE(reply.find("NAME:" + rig.prodNbr() + "\xff"), std::string::npos);
    EXPECT_EQ(text(rig.broadcastListener().receive()), reply) << "the broadcast copy";

    ASSERT_EQ(reply.rfind("\x02MAC:", 0), 0u);
    std::string mac = reply.substr(5, reply.find('\xff') - 5);
    EXPECT_EQ(mac.find(':'), std::string::npos) << mac;
    std::string change = "\x02MAC:" + mac + "\xffMODEL:IPCARD\xffIPADR:10.1.1.1\xff\x03";
    peer.sendTo(rig.netsetPort(), Bytes(change.begin(), change.end()));
    EXPECT_EQ(text(peer.receive()), "\x02NAK:" + mac + "\xff\x03");
    EXPECT_EQ(text(rig.broadcastListener().receive()), "\x02NAK:" + mac + "\xff\x03");

    std::string notUs = "\x02MAC:02-00-00-00-00-01\xffMODEL:IPCARD\xff\x03";
    peer.sendTo(rig.netsetPort(), Bytes(notUs.begin(), notUs.end()));
    EXPECT_TRUE(peer.receive(500ms).empty());
}

// CGI API AND LIFECYCLE ------------------------------------------------------

TEST(KorundCgi, MethodsAndInterfaceSwitchWhileRunning)
{
    REQUIRE_ROOT();
    KorundRig rig(kSerialConfig);

    json r = cgi(rig, {{"method", "getSupportedVersions"}, {"context", "abc"}});
    EXPECT_EQ(r["data"]["apiVersions"], json::array({"1.0"})) << r.dump();
    EXPECT_EQ(r["context"], "abc");
    EXPECT_EQ(code(cgi(rig, {{"method", "getEnabled"}})), 4001);
    r = call(rig, "getSupportedInterfaces");
    EXPECT_EQ(r["data"]["interfaces"], json::array({"none", "viscaOverIP", "viscaOverSerial"}));
    EXPECT_EQ(call(rig, "getEnabled")["data"]["enabled"], true);
    EXPECT_EQ(call(rig, "getActiveInterface")["data"]["interface"], "viscaOverSerial");
    r = call(rig, "getSerialConfiguration");
    EXPECT_EQ(r["data"], json({{"serialConfiguration", "pointToPoint"}, {"baudRate", 9600}}));
    r = call(rig, "setSerialConfiguration", {{"baudRate", 19200}});
    EXPECT_EQ(code(r), 1000);
    EXPECT_EQ(r["error"]["message"], "Invalid parameter value.");
    EXPECT_EQ(code(call(rig, "setEnabled", {{"enabled", "yes"}})), 4002);
    EXPECT_EQ(code(call(rig, "setEnabled")), 4001);
    EXPECT_EQ(code(call(rig, "noSuchMethod", json::object())), 2004);
    EXPECT_EQ(code(cgi(rig, {{"method", "getEnabled"}, {"apiVersion", "2.0"}})), 2003);
    HttpReply bad = httpPost(rig.cgiUrl(), "{\"method\":");
    EXPECT_EQ(json::parse(bad.body, nullptr, false)["error"]["code"], 4000);

    // Serial works; switch to IP: serial stops, UDP answers.
    rig.in().write(kZoomStop);
    EXPECT_EQ(rig.in().read(3s, 6), kAckCompletion);
    EXPECT_EQ(code(call(rig, "setActiveInterface", {{"interface", "viscaOverIP"}})), 0);
    EXPECT_NE(rig.readConfig().find("interface=viscaOverIP"), std::string::npos);
    UdpPeer peer;
    peer.sendTo(rig.viscaPort(), ipFrame(1, kZoomStop));
    EXPECT_EQ(peer.receive(), ipReply(1, kAck)) << rig.daemon().output();
    EXPECT_EQ(peer.receive(), ipReply(1, kCompletion));
    rig.in().write(kZoomStop);
    EXPECT_TRUE(rig.in().read(500ms).empty()) << "serial is closed";

    // And back, with a new baud rate and chain mode.
    r = call(rig, "setSerialConfiguration",
             {{"serialConfiguration", "daisyInChain"}, {"baudRate", 38400}});
    EXPECT_EQ(code(r), 0);
    EXPECT_EQ(code(call(rig, "setActiveInterface", {{"interface", "viscaOverSerial"}})), 0);
    EXPECT_EQ(call(rig, "getSerialConfiguration")["data"],
              json({{"serialConfiguration", "daisyInChain"}, {"baudRate", 38400}}));
    rig.in().write(kZoomStop);
    EXPECT_EQ(rig.out().read(3s, 6), kAckCompletion) << rig.daemon().output();
    peer.sendTo(rig.viscaPort(), ipFrame(2, kZoomStop));
    EXPECT_TRUE(peer.receive(500ms).empty()) << "UDP is closed";

    // The same value again does not write the file.
    std::remove(rig.configPath().c_str());
    EXPECT_EQ(code(call(rig, "setActiveInterface", {{"interface", "viscaOverSerial"}})), 0);
    EXPECT_EQ(code(call(rig, "setEnabled", {{"enabled", true}})), 0);
    EXPECT_FALSE(std::ifstream(rig.configPath()).good());
}

TEST(KorundLifecycle, BadConfigurationIsRestoredAndDisabledDaemonExits)
{
    REQUIRE_ROOT();
    // IP on a product without IP: the file is replaced by the default.
    KorundRig rig(kIpConfig, true, false);
    EXPECT_EQ(rig.readConfig(),
              "[korund]\nenabled=false\ninterface=none\nserialConfiguration=pointToPoint\n"
              "baudRate=9600\n");
    struct passwd* pw = getpwnam("ptzadm");
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(processUid(rig.daemon().pid()), static_cast<int>(pw->pw_uid))
        << "privileges are dropped after start-up";
    EXPECT_EQ(code(call(rig, "setActiveInterface", {{"interface", "viscaOverIP"}})), 1000);

    int status = rig.daemon().waitExit(15s);
    ASSERT_NE(status, -1) << "a disabled daemon ends itself";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(rig.daemon().output().find("Service not enabled, terminating"), std::string::npos);
}

TEST(KorundLifecycle, TakesTheTransferSocketFromTheServiceManager)
{
    REQUIRE_ROOT();
    KorundRig rig(kIpConfig);
    rig.daemon().stop(SIGTERM);
    rig.startSocketActivated();
    json r = call(rig, "getActiveInterface");
    EXPECT_EQ(r["data"]["interface"], "viscaOverIP") << r.dump() << rig.daemon().output();
    EXPECT_TRUE(rig.daemon().waitForOutput("Service up and running"));
    UdpPeer peer;
    peer.sendTo(rig.viscaPort(), ipFrame(3, kZoomStop));
    EXPECT_EQ(peer.receive(), ipReply(3, kAck));
}

TEST(KorundLifecycle, DisablingThroughTheApiEndsTheDaemon)
{
    REQUIRE_ROOT();
    KorundRig rig(kIpConfig);
    EXPECT_EQ(code(call(rig, "setEnabled", {{"enabled", false}})), 0);
    EXPECT_NE(rig.readConfig().find("enabled=false"), std::string::npos);
    EXPECT_NE(rig.daemon().waitExit(15s), -1);
}

// Run as the service manager runs it (forked into the background), korund
// stops on SIGTERM and on SIGINT: it logs its exit line and removes its
// transfer socket and UDP ports. The measured time is printed; the bound is
// generous, a daemon that ignores the signal never meets it.
TEST(KorundLifecycle, DaemonStopsOnTerminationSignals)
{
    REQUIRE_ROOT();
    // Waiting for the daemonized process needs a child subreaper, which
    // qemu-user does not offer its guests.
    if (!testEmulator().empty())
        GTEST_SKIP() << "no child subreaper under the emulator";
    KorundRig rig(kIpConfig);
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(sig));
        auto daemon = rig.startDaemonized();
        ASSERT_TRUE(daemon->waitForLog("Service up and running")) << daemon->log();
        ASSERT_TRUE(std::filesystem::exists(rig.transferSocket()));

        auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(daemon->pid(), sig), 0);
        int status = daemon->waitExit(10s);
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - sent);
        ASSERT_NE(status, -1) << "still running after the signal\n" << daemon->log();
        std::printf("korund exited %lld ms after %s\n", static_cast<long long>(took.count()),
                    strsignal(sig));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        std::string log = daemon->log();
        EXPECT_NE(log.find("Received signal: " + std::to_string(sig)), std::string::npos) << log;
        EXPECT_NE(log.find("korund: exiting"), std::string::npos) << log;
        EXPECT_FALSE(std::filesystem::exists(rig.transferSocket()));
        EXPECT_NO_THROW(UdpPeer{rig.viscaPort()}) << "VISCA port still bound";
        EXPECT_NO_THROW(UdpPeer{rig.netsetPort()}) << "network-settings port still bound";
    }
}

// CAMERA AWAY ----------------------------------------------------------------

// Waits for the reply to the VISCA-over-IP packet `seq` (skipping late
// replies to earlier packets); empty after `wait`.
Bytes replyTo(const UdpPeer& peer, uint32_t seq, std::chrono::milliseconds wait)
{
    auto end = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < end) {
        Bytes reply = peer.receive(std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now()));
        Bytes head = ipReply(seq, {}); // type and sequence; the length differs
        if (reply.size() >= 8 && std::equal(head.begin(), head.begin() + 2, reply.begin()) &&
            std::equal(head.begin() + 4, head.end(), reply.begin() + 4))
            return Bytes(reply.begin() + 8, reply.end());
    }
    return {};
}

const Bytes kPositionInquiry = {0x81, 0x09, 0x06, 0x12, 0xFF};

// camsim crashes and comes back: while it is away every VISCA command and
// inquiry is answered with an error and the CGI keeps answering; once it is
// back the same packets work again, without restarting the daemon.
TEST(KorundCameraAway, ErrorRepliesWhileTheCameraIsGoneThenRecovers)
{
    REQUIRE_ROOT();
    KorundRig rig(kIpConfig);
    UdpPeer peer;
    uint32_t seq = 1;
    peer.sendTo(rig.viscaPort(), ipFrame(seq, kZoomStop));
    ASSERT_EQ(replyTo(peer, seq, 5s), kAck) << rig.daemon().output();

    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        rig.signalCamsim(SIGKILL);
        peer.sendTo(rig.viscaPort(), ipFrame(++seq, kZoomTele));
        EXPECT_EQ(replyTo(peer, seq, 30s), kError) << rig.daemon().output();
        peer.sendTo(rig.viscaPort(), ipFrame(++seq, kPositionInquiry));
        EXPECT_EQ(replyTo(peer, seq, 30s), kError);
        EXPECT_EQ(call(rig, "getActiveInterface")["data"]["interface"], "viscaOverIP");

        rig.startCamsim();
        bool back = waitFor(
            [&] {
                peer.sendTo(rig.viscaPort(), ipFrame(++seq, kPositionInquiry));
                return replyTo(peer, seq, 5s).size() == 11;
            },
            30s);
        EXPECT_TRUE(back) << rig.daemon().output();
        peer.sendTo(rig.viscaPort(), ipFrame(++seq, kZoomStop));
        EXPECT_EQ(replyTo(peer, seq, 5s), kAck);
        ASSERT_TRUE(rig.daemon().running()) << rig.daemon().output();
    }
}

// camsim frozen (SIGSTOP, faultFreezeTime()): a command and an inquiry sent
// meanwhile are answered no later than the D-Bus time-out (25 s) or the thaw,
// whichever comes first, and the CGI answers too; after the thaw everything
// works. Nothing waits for ever.
TEST(KorundCameraAway, CallsReturnWhileTheCameraIsFrozen)
{
    REQUIRE_ROOT();
    KorundRig rig(kIpConfig);
    UdpPeer peer;
    peer.sendTo(rig.viscaPort(), ipFrame(1, kZoomStop));
    ASSERT_EQ(replyTo(peer, 1, 5s), kAck) << rig.daemon().output();

    const auto freeze = faultFreezeTime();
    const auto bound = std::min<std::chrono::seconds>(freeze, 25s) + 20s;
    rig.signalCamsim(SIGSTOP);
    auto frozenAt = std::chrono::steady_clock::now();
    std::thread thaw([&] {
        std::this_thread::sleep_until(frozenAt + freeze);
        rig.signalCamsim(SIGCONT);
    });
    peer.sendTo(rig.viscaPort(), ipFrame(2, kZoomTele));
    peer.sendTo(rig.viscaPort(), ipFrame(3, kPositionInquiry));
    Bytes command = replyTo(peer, 2, bound);
    Bytes inquiry = replyTo(peer, 3, bound);
    const std::string body = R"({"apiVersion":"1.0","method":"getEnabled"})";
    HttpReply cgiReply =
        httpRequest("POST", rig.cgiUrl(), &body, {"--max-time", std::to_string(bound.count())});
    auto took = std::chrono::steady_clock::now() - frozenAt;
    thaw.join();
    EXPECT_TRUE(command == kAck || command == kError) << "no reply to the command";
    EXPECT_TRUE(inquiry.size() == 11 || inquiry == kError) << "no reply to the inquiry";
    EXPECT_EQ(cgiReply.status, 200);
    EXPECT_LT(took, 2 * bound);
    std::printf("frozen %llds: replies within %lld ms\n", static_cast<long long>(freeze.count()),
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));

    peer.sendTo(rig.viscaPort(), ipFrame(9, kZoomStop));
    EXPECT_EQ(replyTo(peer, 9, 30s), kAck) << rig.daemon().output();
    EXPECT_TRUE(rig.daemon().running());
}

} // namespace
