// Table-driven tests of visca_inq_parser and the broadcast handler.
#include <gtest/gtest.h>

#include "fake_actions.h"
#include "visca_device.h"
#include "visca_parser.h"
#include "visca_test_util.h"

using kortest::FakeActions;
using kortest::hex;
using kortest::toHex;

namespace
{

class InqParser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fake.install();
        fake.setBool(3, "VariousBackLight", false);
        fake.setBool(3, "VariousAutoFocus", true);
        fake.setBytes(2, "WhiteBalance", "auto");
        exposure("no", "no", "yes");
        visca_set_prod_nbr("Q6135");
    }
    void TearDown() override
    {
        visca_set_device_id(1);
        visca_set_over_ip(FALSE);
        visca_set_prod_nbr("");
    }
    void exposure(const char* shutter, const char* gain, const char* iris)
    {
        fake.setBytes(2, "ManualShutterControl", shutter);
        fake.setBytes(2, "ManualGainControl", gain);
        fake.setBytes(2, "IrisEnabled", iris);
    }

    // The reply as hex, or "rc=<code>".
    std::string ask(const std::string& packet, int id = 1)
    {
        auto bytes = hex(packet, id);
        guint8* reply = reinterpret_cast<guint8*>(1);
        gsize length = 99;
        int rc = visca_inq_parser(bytes.data(), bytes.size(), &reply, &length);
        if (rc != 0) {
            EXPECT_EQ(reply, nullptr);
            EXPECT_EQ(length, 0u);
            return "rc=" + std::to_string(rc);
        }
        std::string out = toHex(reply, length);
        g_free(reply);
        return out;
    }

    std::string expect(const std::string& reply, int id = 1) { return toHex(hex(reply, id)); }

    FakeActions fake;
};

TEST_F(InqParser, FixedRepliesForDevices1And7)
{
    for (int id : {1, 7}) {
        ASSERT_TRUE(visca_set_device_id(static_cast<guint8>(id)));
        EXPECT_EQ(ask("8x 09 04 00 FF", id), expect("y0 50 02 FF", id));
        EXPECT_EQ(ask("8x 09 04 3A FF", id), expect("y0 50 03 FF", id));
        EXPECT_EQ(ask("8x 09 04 3E FF", id), expect("y0 50 03 FF", id));
        EXPECT_EQ(ask("8x 09 06 06 FF", id), expect("y0 50 03 FF", id));
        EXPECT_EQ(ask("8x 09 00 02 FF", id), expect("y0 50 5A 54 51 3D 23 00 02 FF", id));
        EXPECT_EQ(ask("8x 09 04 00 00 00 FF", id), expect("y0 50 02 FF", id));
    }
}

TEST_F(InqParser, PacketChecks)
{
    EXPECT_EQ(ask("81 09 04 FF"), "rc=-22");
    EXPECT_EQ(ask("82 09 04 00 FF"), "rc=-23");
    EXPECT_EQ(ask("88 09 04 00 FF"), "rc=-23");
    EXPECT_EQ(ask("81 01 04 00 FF"), "rc=-1");
    EXPECT_EQ(ask("81 09 04 00 00 FF"), "rc=-22");
    EXPECT_EQ(ask("81 09 04 00 00 00 00 FF"), "rc=-22");
    EXPECT_EQ(ask("81 09 06 12 00 FF"), "rc=-22");
    EXPECT_EQ(ask("81 09 00 02 00 00 FF"), "rc=-22");
    EXPECT_EQ(ask("81 09 00 03 FF"), "rc=-21");
    EXPECT_EQ(ask("81 09 05 00 FF"), "rc=-21");
    EXPECT_EQ(ask("81 09 7E 00 FF"), "rc=-21");
    EXPECT_EQ(ask("81 09 04 47 00 00 00 FF"), "rc=-22");
    for (const char* unsupported : {"04 34", "04 40", "04 48", "04 4B", "04 01", "06 11", "06 13"})
        EXPECT_EQ(ask(std::string("81 09 ") + unsupported + " FF"), "rc=-21") << unsupported;
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(InqParser, BooleanSettings)
{
    EXPECT_EQ(ask("81 09 04 33 FF"), "90 50 03 FF");
    fake.setBool(3, "VariousBackLight", true);
    EXPECT_EQ(ask("81 09 04 33 FF"), "90 50 02 FF");
    EXPECT_EQ(ask("81 09 04 38 FF"), "90 50 02 FF");
    fake.setBool(3, "VariousAutoFocus", false);
    EXPECT_EQ(ask("81 09 04 38 FF"), "90 50 03 FF");
    fake.failProperty(3, "VariousAutoFocus", -12);
    EXPECT_EQ(ask("81 09 04 38 FF"), "rc=-12");
    fake.setInt(3, "VariousBackLight", 1); // wrong type
    EXPECT_EQ(ask("81 09 04 33 FF"), "rc=-3");
}

TEST_F(InqParser, WhiteBalance)
{
    const std::pair<const char*, const char*> modes[] = {
        {"auto", "90 50 00 FF"},
        {"fixed_indoor", "90 50 01 FF"},
        {"fixed_outdoor1", "90 50 02 FF"},
        {"auto_outdoor", "90 50 04 FF"},
        {"onepush", "90 50 05 FF"},
        {"fixed_outdoor2", "rc=-25"},
        {"", "rc=-25"},
    };
    for (auto [mode, reply] : modes) {
        fake.setBytes(2, "WhiteBalance", mode);
        EXPECT_EQ(ask("81 09 04 35 FF"), reply) << mode;
    }
    fake.failProperty(2, "WhiteBalance", -13);
    EXPECT_EQ(ask("81 09 04 35 FF"), "rc=-13");
}

TEST_F(InqParser, AutoExposureCombinations)
{
    struct Combo {
        const char *s, *g, *i, *reply;
    };
    for (Combo c :
         {Combo{"no", "no", "yes", "90 50 00 FF"}, Combo{"yes", "yes", "no", "90 50 03 FF"},
          Combo{"yes", "no", "yes", "90 50 0A FF"}, Combo{"no", "no", "no", "90 50 0B FF"},
          Combo{"no", "yes", "no", "90 50 0D FF"}, Combo{"yes", "yes", "yes", "rc=-25"},
          Combo{"no", "yes", "yes", "rc=-25"}, Combo{"yes", "no", "no", "rc=-25"},
          Combo{"maybe", "no", "yes", "rc=-3"}}) {
        exposure(c.s, c.g, c.i);
        EXPECT_EQ(ask("81 09 04 39 FF"), c.reply) << c.s << c.g << c.i;
    }
}

TEST_F(InqParser, AutoExposureReadsBackTheCommand)
{
    for (const char* mode : {"00", "03", "0A", "0B", "0D"}) {
        auto cmd = hex(std::string("81 01 04 39 ") + mode + " FF");
        ASSERT_EQ(visca_cmd_parser(cmd.data(), cmd.size()), 0);
        EXPECT_EQ(ask("81 09 04 39 FF"), std::string("90 50 ") + mode + " FF");
    }
}

TEST_F(InqParser, ZoomPosition)
{
    const std::pair<int, const char*> zooms[] = {
        {1, "00 00 00 00"},     {5000, "02 00 00 00"},  {4999, "01 0F 0F 0E"},
        {9999, "04 00 00 00"},  {10000, "04 00 00 00"}, {19999, "07 0A 0C 00"},
        {20000, "00 00 00 00"}, {0, "00 00 00 00"},     {-5, "00 00 00 00"},
        {32767, "00 00 00 00"},
    };
    for (auto [zoom, nibbles] : zooms) {
        fake.position.zoom = zoom;
        EXPECT_EQ(ask("81 09 04 47 FF"), std::string("90 50 ") + nibbles + " FF") << zoom;
    }
    EXPECT_EQ(fake.calls.back(), "QueryPosition");
    fake.failPtz(-12);
    EXPECT_EQ(ask("81 09 04 47 FF"), "rc=-12");
}

TEST_F(InqParser, ZoomRoundTrip)
{
    // Direct zoom values come back through the inquiry within one step.
    for (unsigned v : {0u, 1u, 100u, 8192u, 16383u, 16384u, 16385u, 20000u, 31424u}) {
        char packet[64];
        std::snprintf(packet, sizeof packet, "81 01 04 47 %02X %02X %02X %02X FF", (v >> 12) & 15,
                      (v >> 8) & 15, (v >> 4) & 15, v & 15);
        fake.calls.clear();
        auto cmd = hex(packet);
        ASSERT_EQ(visca_cmd_parser(cmd.data(), cmd.size()), 0);
        int zoom = 0;
        ASSERT_EQ(std::sscanf(fake.calls.at(0).c_str(), "MovePTZ(0,0,0,0,%d,1,0)", &zoom), 1);
        fake.position.zoom = zoom;
        auto reply = hex(ask("81 09 04 47 FF"));
        ASSERT_EQ(reply.size(), 7u);
        unsigned back = (reply[2] << 12) | (reply[3] << 8) | (reply[4] << 4) | reply[5];
        EXPECT_LE(back, v) << v;
        EXPECT_GE(back + 2, v) << v;
    }
}

TEST_F(InqParser, PanTiltPosition)
{
    struct Pos {
        double pan, tilt;
        const char* nibbles;
    };
    for (Pos p :
         {Pos{0, 0, "00 00 00 00 00 00 00 00"}, Pos{90, -20, "01 02 00 00 0F 0C 00 00"},
          Pos{180, 0, "02 04 00 00 00 00 00 00"}, Pos{270, 0, "0E 0E 00 00 00 00 00 00"},
          Pos{-180, 10, "0D 0C 00 00 00 02 00 00"}, Pos{1e9, -1e9, "07 0F 0F 0F 08 00 00 00"}}) {
        fake.position.pan = p.pan;
        fake.position.tilt = p.tilt;
        EXPECT_EQ(ask("81 09 06 12 FF"), std::string("90 50 ") + p.nibbles + " FF") << p.pan;
    }
    visca_set_device_id(7);
    fake.position.pan = 90;
    fake.position.tilt = -20;
    EXPECT_EQ(ask("87 09 06 12 FF", 7), "F0 50 01 02 00 00 0F 0C 00 00 FF");
    fake.failPtz(-13);
    EXPECT_EQ(ask("87 09 06 12 FF", 7), "rc=-13");
}

TEST(ViscaDevice, RepliesFollowTheAddress)
{
    visca_set_prod_nbr("Q6135");
    ASSERT_TRUE(visca_set_device_id(7));
    EXPECT_EQ(toHex(visca_device.ack, VISCA_ACK_LEN), "F0 41 FF");
    EXPECT_EQ(toHex(visca_device.completion, VISCA_COMPLETION_LEN), "F0 51 FF");
    EXPECT_EQ(toHex(visca_device.error, VISCA_ERROR_LEN), "F0 61 41 FF");
    EXPECT_EQ(toHex(visca_device.version, VISCA_VERSION_LEN), "F0 50 5A 54 51 3D 23 00 02 FF");
    visca_set_over_ip(TRUE);
    EXPECT_EQ(toHex(visca_device.ack, VISCA_ACK_LEN), "90 41 FF");
    EXPECT_EQ(toHex(visca_device.error, VISCA_ERROR_LEN), "90 61 41 FF");
    visca_set_over_ip(FALSE);
    EXPECT_FALSE(visca_set_device_id(0));
    EXPECT_FALSE(visca_set_device_id(8));
    EXPECT_EQ(visca_device.device_id, 7);
    // Short or odd product numbers leave the missing parts 0.
    visca_set_prod_nbr("M1");
    EXPECT_EQ(toHex(visca_device.version, VISCA_VERSION_LEN), "F0 50 5A 54 4D 00 00 00 02 FF");
    visca_set_prod_nbr("P12x4");
    EXPECT_EQ(toHex(visca_device.version, VISCA_VERSION_LEN), "F0 50 5A 54 50 0C 00 00 02 FF");
    visca_set_prod_nbr("");
    ASSERT_TRUE(visca_set_device_id(1));
    EXPECT_EQ(toHex(visca_device.ack, VISCA_ACK_LEN), "90 41 FF");
}

class Broadcast : public ::testing::Test
{
protected:
    void TearDown() override { visca_set_device_id(1); }
    // Result code and the passed-on packet ("" when none).
    std::pair<int, std::string> handle(const std::string& packet)
    {
        auto bytes = hex(packet);
        guint8 out[VISCA_MAX_PACKET];
        gsize outLength = 99;
        int rc = visca_broadcast_handler(bytes.data(), bytes.size(), out, &outLength);
        return {rc, toHex(out, outLength)};
    }
};

TEST_F(Broadcast, AddressSet)
{
    EXPECT_EQ(handle("88 30 01 FF"), std::make_pair(0, std::string("88 30 02 FF")));
    EXPECT_EQ(visca_device.device_id, 1);
    EXPECT_EQ(handle("88 30 03 FF"), std::make_pair(0, std::string("88 30 04 FF")));
    EXPECT_EQ(visca_device.device_id, 3);
    EXPECT_EQ(visca_device.ack[0], 0xB0);
    EXPECT_EQ(handle("88 30 07 FF"), std::make_pair(0, std::string("88 30 08 FF")));
    EXPECT_EQ(visca_device.device_id, 7);
    // Invalid addresses keep ours but still number the next device.
    EXPECT_EQ(handle("88 30 08 FF"), std::make_pair(0, std::string("88 30 08 FF")));
    EXPECT_EQ(handle("88 30 00 FF"), std::make_pair(0, std::string("88 30 08 FF")));
    EXPECT_EQ(handle("88 30 02 00 FF"), std::make_pair(0, std::string("88 30 08 00 FF")));
    EXPECT_EQ(visca_device.device_id, 7);
    // No address byte before the terminator: passed on unchanged.
    EXPECT_EQ(handle("88 30 FF"), std::make_pair(0, std::string("88 30 FF")));
}

TEST_F(Broadcast, ClearAndOthers)
{
    EXPECT_EQ(handle("88 01 00 01 FF"), std::make_pair(0, std::string()));
    EXPECT_EQ(handle("88 FF"), std::make_pair(-21, std::string()));
    EXPECT_EQ(handle("88 40 FF"), std::make_pair(-21, std::string()));
    EXPECT_EQ(handle("88"), std::make_pair(-22, std::string()));
    EXPECT_EQ(visca_device.device_id, 1);
}

TEST(PacketKind, ByHeaderAndType)
{
    auto kind = [](const std::string& p) {
        auto b = hex(p);
        return visca_packet_kind(b.data(), b.size());
    };
    EXPECT_EQ(kind("88 30 01 FF"), VISCA_PACKET_BROADCAST);
    EXPECT_EQ(kind("90 41 FF"), VISCA_PACKET_REPLY);
    EXPECT_EQ(kind("F0 51 FF"), VISCA_PACKET_REPLY);
    EXPECT_EQ(kind("81 01 04 07 02 FF"), VISCA_PACKET_COMMAND);
    EXPECT_EQ(kind("83 09 04 00 FF"), VISCA_PACKET_INQUIRY);
    EXPECT_EQ(kind("81 02 FF"), VISCA_PACKET_UNKNOWN);
    EXPECT_EQ(kind("F1 01 FF"), VISCA_PACKET_COMMAND);
    EXPECT_EQ(kind("90"), VISCA_PACKET_UNKNOWN);
}

} // namespace
