// Packet assembly, routing and the UDP framing of the VISCA transports,
// driven without sockets against a fake camera.
#include <string>
#include <vector>

#include "fake_actions.h"

extern "C" {
#include "korund_config.h"
#include "visca_assembler.h"
#include "visca_device.h"
#include "visca_dispatch.h"
#include "visca_ip.h"
#include "visca_netsettings.h"
}

#include <gtest/gtest.h>

namespace
{

using Bytes = std::vector<guint8>;

struct Sent {
    ViscaSendKind kind;
    Bytes data;
};

class TransportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FakeCamera::instance().install();
        visca_set_over_ip(FALSE);
        visca_set_device_id(1);
    }
    void TearDown() override { FakeCamera::uninstall(); }

    std::vector<Sent> dispatchSerial(const Bytes& packet)
    {
        std::vector<Sent> sent;
        visca_dispatch_serial(packet.data(), packet.size(), collect, &sent);
        return sent;
    }

    static gboolean collect(ViscaSendKind kind, const guint8* data, gsize length, gpointer user)
    {
        static_cast<std::vector<Sent>*>(user)->push_back({kind, Bytes(data, data + length)});
        return TRUE;
    }
};

std::vector<Bytes> assemble(const Bytes& stream, ViscaAssembler& a)
{
    std::vector<Bytes> packets;
    visca_assembler_feed(
        &a, stream.data(), stream.size(),
        [](const guint8* p, gsize n, gpointer user) {
            static_cast<std::vector<Bytes>*>(user)->emplace_back(p, p + n);
        },
        &packets);
    return packets;
}

TEST(ViscaAssembler, CutsPacketsOutOfNoise)
{
    struct Row {
        const char* name;
        Bytes stream;
        std::vector<Bytes> expected;
    } rows[] = {
        {"garbage before a command",
         {0x00, 0x12, 0x7F, 0xFF, 0x81, 0x01, 0x04, 0x07, 0x02, 0xFF},
         {{0x81, 0x01, 0x04, 0x07, 0x02, 0xFF}}},
        {"header bytes in the garbage restart the packet",
         {0x83, 0x12, 0x90, 0x33, 0x81, 0x01, 0x04, 0x07, 0x02, 0xFF},
         {{0x81, 0x01, 0x04, 0x07, 0x02, 0xFF}}},
        {"two packets in one read",
         {0x81, 0x09, 0x04, 0x47, 0xFF, 0x90, 0x41, 0xFF},
         {{0x81, 0x09, 0x04, 0x47, 0xFF}, {0x90, 0x41, 0xFF}}},
        {"lone terminators", {0xFF, 0xFF}, {}},
    };
    for (const auto& row : rows) {
        ViscaAssembler a{};
        EXPECT_EQ(assemble(row.stream, a), row.expected) << row.name;
    }
}

TEST(ViscaAssembler, DropsOverlongRunAndSplitsAcrossReads)
{
    ViscaAssembler a{};
    Bytes run(300, 0x10);
    run[0] = 0x81;
    EXPECT_TRUE(assemble(run, a).empty());
    EXPECT_TRUE(assemble({0x00, 0xFF}, a).empty()) << "the overlong packet must not complete";

    EXPECT_TRUE(assemble({0x81, 0x01, 0x04}, a).empty());
    EXPECT_EQ(assemble({0x07, 0x02, 0xFF}, a),
              (std::vector<Bytes>{{0x81, 0x01, 0x04, 0x07, 0x02, 0xFF}}));

    // 255 bytes including the terminator still fit.
    Bytes longest(255, 0x01);
    longest[0] = 0x81;
    longest[254] = 0xFF;
    EXPECT_EQ(assemble(longest, a).size(), 1u);
}

TEST_F(TransportTest, SerialCommandIsAnsweredAndOthersPassedOn)
{
    auto sent = dispatchSerial({0x81, 0x01, 0x04, 0x07, 0x02, 0xFF});
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].data, (Bytes{0x90, 0x41, 0xFF}));
    EXPECT_EQ(sent[1].data, (Bytes{0x90, 0x51, 0xFF}));
    EXPECT_EQ(FakeCamera::instance().calls.back(), "MovePTZ zoom 100 mode 3");

    Bytes other = {0x82, 0x01, 0x04, 0x07, 0x02, 0xFF};
    sent = dispatchSerial(other);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, VISCA_SEND_PASS_ON);
    EXPECT_EQ(sent[0].data, other);

    Bytes reply = {0xA0, 0x41, 0xFF};
    sent = dispatchSerial(reply);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, VISCA_SEND_PASS_REPLY);
    EXPECT_EQ(sent[0].data, reply);

    sent = dispatchSerial({0x81, 0x01, 0x04, 0x00, 0x03, 0xFF}); // power off: refused
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].data, (Bytes{0x90, 0x61, 0x41, 0xFF}));
}

TEST_F(TransportTest, AddressSetTakesAddressAndPassesOnTheNext)
{
    auto sent = dispatchSerial({0x88, 0x30, 0x03, 0xFF});
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, VISCA_SEND_SET_ID);
    EXPECT_EQ(sent[0].data, (Bytes{0x88, 0x30, 0x04, 0xFF}));
    EXPECT_EQ(visca_device.device_id, 3);
    sent = dispatchSerial({0x83, 0x01, 0x04, 0x07, 0x00, 0xFF});
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].data, (Bytes{0xB0, 0x41, 0xFF}));

    EXPECT_TRUE(dispatchSerial({0x88, 0x01, 0x00, 0x01, 0xFF}).empty()) << "IF_clear is ignored";
}

// UDP ---------------------------------------------------------------------

Bytes ipDatagram(guint8 cls, guint8 type, guint32 seq, const Bytes& payload, int length = -1)
{
    Bytes d(VISCA_IP_HEADER_LEN);
    ViscaIpHeader h{cls, type, static_cast<guint16>(length < 0 ? payload.size() : length), seq};
    visca_ip_header_write(d.data(), &h);
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

std::vector<Bytes> handleIp(const Bytes& datagram)
{
    std::vector<Bytes> out;
    visca_ip_handle_datagram(
        datagram.data(), datagram.size(),
        [](const guint8* d, gsize n, gpointer user) {
            static_cast<std::vector<Bytes>*>(user)->emplace_back(d, d + n);
            return gboolean(TRUE);
        },
        &out);
    return out;
}

TEST_F(TransportTest, IpCommandGetsAckAndCompletionWithTheSequence)
{
    visca_set_over_ip(TRUE);
    auto out = handleIp(ipDatagram(0x01, 0x00, 0x01020304, {0x81, 0x01, 0x04, 0x07, 0x02, 0xFF}));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], (Bytes{0x01, 0x11, 0x00, 0x03, 0x01, 0x02, 0x03, 0x04, 0x90, 0x41, 0xFF}));
    EXPECT_EQ(out[1], (Bytes{0x01, 0x11, 0x00, 0x03, 0x01, 0x02, 0x03, 0x04, 0x90, 0x51, 0xFF}));

    out = handleIp(ipDatagram(0x01, 0x00, 7, {0x82, 0x01, 0x04, 0x07, 0x02, 0xFF}));
    ASSERT_EQ(out.size(), 1u) << "a packet for another device gets the error reply over IP";
    EXPECT_EQ(out[0], (Bytes{0x01, 0x11, 0x00, 0x04, 0, 0, 0, 7, 0x90, 0x61, 0x41, 0xFF}));
}

TEST_F(TransportTest, IpIgnoresBadDatagramsAndAnswersControlReset)
{
    EXPECT_TRUE(handleIp(ipDatagram(0x01, 0x00, 1, {})).empty()) << "header only";
    EXPECT_TRUE(handleIp(ipDatagram(0x01, 0x00, 1, Bytes(17, 0x01))).empty()) << "25 bytes";
    EXPECT_TRUE(
        handleIp(ipDatagram(0x01, 0x00, 1, {0x81, 0x01, 0x04, 0x07, 0x02, 0xFF}, 12)).empty())
        << "length field beyond the datagram";
    EXPECT_TRUE(handleIp(ipDatagram(0x01, 0x00, 1, {0x81, 0xFF, 0x04, 0x07, 0x02, 0xFF})).empty())
        << "terminator inside the payload";
    EXPECT_TRUE(handleIp(ipDatagram(0x01, 0x00, 1, {0x81, 0x01, 0x04, 0x07, 0x02, 0x00})).empty())
        << "no terminator";

    auto out = handleIp(ipDatagram(0x02, 0x00, 0x55, {0x01}));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], (Bytes{0x02, 0x01, 0x00, 0x01, 0, 0, 0, 0x55, 0x01}));
    EXPECT_TRUE(handleIp(ipDatagram(0x02, 0x00, 0x55, {0x0F})).empty());
}

TEST_F(TransportTest, IpInquiryReplyCarriesHeader)
{
    visca_set_over_ip(TRUE);
    auto out = handleIp(ipDatagram(0x01, 0x10, 9, {0x81, 0x09, 0x04, 0x00, 0xFF}));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], (Bytes{0x01, 0x11, 0x00, 0x04, 0, 0, 0, 9, 0x90, 0x50, 0x02, 0xFF}));
}

// Network-settings discovery ----------------------------------------------

struct NetsetSent {
    std::string text;
    bool broadcast;
};

std::vector<NetsetSent> handleNetset(const std::string& text)
{
    std::vector<NetsetSent> out;
    visca_netset_handle_datagram(
        reinterpret_cast<const guint8*>(text.data()), text.size(),
        [](const guint8* d, gsize n, gboolean broadcast, gpointer user) {
            static_cast<std::vector<NetsetSent>*>(user)->push_back(
                {std::string(reinterpret_cast<const char*>(d), n), broadcast != FALSE});
            return gboolean(TRUE);
        },
        &out);
    return out;
}

TEST_F(TransportTest, DiscoveryEnquiryIsAnsweredUnicastThenBroadcast)
{
    // The reply names the product with its whole product number, however long.
    for (const char* product : {"Q6215", "Q6215-LE Mk II 60Hz Outdoor"}) {
        visca_set_prod_nbr(product);
        auto out = handleNetset("\x02"
                                "ENQ:network\xff\x03");
        ASSERT_EQ(out.size(), 2u);
        const std::string expected =
            "\x02MAC:00-40-8c-12-34-56\xffINFO:network\xffMODEL:IPCARD\xff"
            "SOFTVERSION:1.20\xffIPADR:192.168.0.90\xffMASK:255.255.255.0\xff"
            "GATEWAY:192.168.0.1\xffNAME:" +
            std::string(product) + "\xffWRITE:off\xff\x03";
        EXPECT_EQ(out[0].text, expected);
        EXPECT_FALSE(out[0].broadcast);
        EXPECT_EQ(out[1].text, expected);
        EXPECT_TRUE(out[1].broadcast);
    }

    FakeCamera::instance().fail = true;
    EXPECT_TRUE(handleNetset("\x02"
                             "ENQ:network\xff\x03")
                    .empty())
        << "unreadable values";
}

TEST_F(TransportTest, DiscoveryChangeRequestForUsIsRefused)
{
    auto out = handleNetset("\x02MAC:00-40-8c-12-34-56\xffMODEL:IPCARD\xffIPADR:10.0.0.2\xff\x03");
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].text, "\x02NAK:00-40-8c-12-34-56\xff\x03");
    EXPECT_TRUE(out[1].broadcast);

    EXPECT_TRUE(handleNetset("\x02MAC:00-40-8c-99-99-99\xffMODEL:IPCARD\xff\x03").empty());
    EXPECT_TRUE(handleNetset("\x02MAC:00-40-8c-12-34-56\xff\x03").empty()) << "no MODEL:IPCARD";
    EXPECT_TRUE(handleNetset("\x02"
                             "ENQ:netw")
                    .empty())
        << "cut short";
    EXPECT_TRUE(handleNetset("").empty());
}

} // namespace
