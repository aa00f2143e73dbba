// The camera actions over a private D-Bus against camsim's bridge services.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camsim_rig.h"
#include "support/wait.h"
#include "visca_dbus.h"
#include "visca_device.h"
#include "visca_parser.h"
#include "visca_test_util.h"

using kortest::CamsimRig;
using kortest::hex;
using kortest::spinUntil;

namespace
{

const char* const kImage = "/com/zeto/ImageControl/0/0";
const char* const kDriver = "/com/zeto/PTZ/Coordinator/1/LegacyConfig/Driver";
const char* const kCoordinator = "/com/zeto/PTZ/Coordinator/1";
const char* const kLed = "/com/zeto/LEDController";

// korund reports failed D-Bus calls as warnings; here they are expected.
gboolean onlyUnexpectedAreFatal(const gchar*, GLogLevelFlags level, const gchar* message, gpointer)
{
    return !((level & G_LOG_LEVEL_WARNING) && g_str_has_prefix(message, "D-Bus"));
}

class KorundDbus : public ::testing::Test
{
protected:
    explicit KorundDbus(std::vector<std::string> camsimArgs = {}) : rig(std::move(camsimArgs))
    {
        g_test_log_set_fatal_handler(onlyUnexpectedAreFatal, nullptr);
        visca_actions_set(nullptr);
        visca_set_device_id(1);
    }
    void SetUp() override
    {
        ASSERT_EQ(visca_dbus_open_property_proxies(), 0);
        ASSERT_EQ(visca_dbus_open_ptz_proxy(), 0);
        rig.takeCalls();
    }
    void TearDown() override { visca_dbus_close(); }

    int cmd(const std::string& packet)
    {
        auto b = hex(packet);
        return visca_cmd_parser(b.data(), b.size());
    }
    std::string inq(const std::string& packet)
    {
        auto b = hex(packet);
        guint8* reply = nullptr;
        gsize length = 0;
        int rc = visca_inq_parser(b.data(), b.size(), &reply, &length);
        if (rc != 0)
            return "rc=" + std::to_string(rc);
        std::string out = kortest::toHex(reply, length);
        g_free(reply);
        return out;
    }
    // "path member signature args" of each recorded call.
    std::vector<std::string> calls()
    {
        std::vector<std::string> out;
        for (auto& c : rig.takeCalls())
            out.push_back(c["path"].get<std::string>() + " " + c["member"].get<std::string>() +
                          " " + c["signature"].get<std::string>() + " " +
                          c["args"].get<std::string>());
        return out;
    }
    // 16-bit values in the 4-nibble groups of an inquiry reply.
    static std::vector<int> nibbleValues(const std::string& reply)
    {
        auto b = hex(reply);
        std::vector<int> out;
        for (size_t i = 2; i + 4 < b.size() + 1 && i + 4 <= b.size() - 1; i += 4)
            out.push_back(
                static_cast<int16_t>((b[i] << 12) | (b[i + 1] << 8) | (b[i + 2] << 4) | b[i + 3]));
        return out;
    }
    bool settled()
    {
        auto p = rig.pose();
        return (p["status"].get<unsigned>() & 0x17u) == 0;
    }

    CamsimRig rig;
};

std::string set(const char* path, const std::string& name, const std::string& value)
{
    return std::string(path) + " Set (ssv) ('com.zeto.Configuration.Legacy', '" + name + "', <" +
           value + ">)";
}

std::string coord(const std::string& member, const std::string& signature, const std::string& args)
{
    return std::string(kCoordinator) + " " + member + " " + signature + " ('Operator', 0, " + args +
           ")";
}

std::string moveFocus(int value, int mode)
{
    std::string sig = "(s", args;
    for (int i = 1; i <= 30; i++) {
        sig += "i";
        int v = i == 18 ? value * 65536 : i == 21 ? mode : 0;
        args += (i > 1 ? ", " : "") + std::to_string(v);
    }
    return std::string(kCoordinator) + " Move " + sig + ") ('Operator', " + args + ")";
}

TEST_F(KorundDbus, EveryCommandReachesTheCameraWithItsSignature)
{
    struct Row {
        const char* packet;
        std::vector<std::string> calls;
    };
    const std::vector<Row> rows = {
        {"81 01 04 07 02 FF", {coord("MovePTZ", "(sididiiii)", "0.0, 0, 0.0, 0, 100, 3, 0")}},
        {"81 01 04 07 00 FF", {coord("MovePTZ", "(sididiiii)", "0.0, 0, 0.0, 0, 0, 3, 0")}},
        {"81 01 04 47 04 00 00 00 FF",
         {coord("MovePTZ", "(sididiiii)", "0.0, 0, 0.0, 0, 9999, 1, 0")}},
        {"81 01 04 48 08 00 00 00 FF", {moveFocus(5000, 1)}},
        {"81 01 04 08 02 FF", {moveFocus(100, 3)}},
        {"81 01 04 08 00 FF", {moveFocus(0, 3)}},
        {"81 01 06 01 18 18 01 01 FF",
         {coord("MovePTZ", "(sididiiii)", "-100.0, 3, 100.0, 3, 0, 0, 0")}},
        {"81 01 06 01 00 00 03 03 FF",
         {coord("MovePTZ", "(sididiiii)", "0.0, 3, 0.0, 3, 0, 0, 0")}},
        {"81 01 06 02 07 03 01 02 00 00 0F 0C 00 00 FF",
         {coord("MovePTZ", "(sididiiii)", "90.0, 1, -20.0, 1, 0, 0, 2")}},
        {"81 01 06 03 10 00 00 00 0A 00 00 00 00 00 FF",
         {coord("MovePTZ", "(sididiiii)", "3.125, 2, 0.0, 2, 0, 0, 33")}},
        {"81 01 06 04 FF", {coord("GotoHome", "(sii)", "6553600")}},
        {"81 01 06 05 FF", {coord("Auxiliary", "(sis)", "'reset'")}},
        {"81 01 04 3F 01 02 FF", {coord("SetPresetName", "(sisb)", "'VISCA preset - 03', false")}},
        {"81 01 04 3F 02 02 FF",
         {coord("GotoPresetName", "(sisi)", "'VISCA preset - 03', 6553600")}},
        {"81 01 04 3F 00 02 FF", {coord("RemovePresetName", "(sis)", "'VISCA preset - 03'")}},
        {"81 01 04 35 04 FF", {set(kImage, "WhiteBalance", "b'auto_outdoor'")}},
        {"81 01 04 10 00 FF",
         {set(kImage, "WhiteBalance", "b'onepush'"), coord("Auxiliary", "(sis)", "'wbonep'")}},
        {"81 01 04 43 00 00 0F 0F FF",
         {set(kImage, "WhiteBalance", "b'onepush'"), set(kImage, "RedBalance", "100")}},
        {"81 01 04 01 02 FF", {set(kImage, "IrCutFilter", "b'no'")}},
        {"81 01 04 51 02 FF", {set(kImage, "IrCutFilter", "b'auto'")}},
        {"81 01 04 21 00 00 00 0E FF", {set(kImage, "AutoIrCutFilterHysteresis", "50")}},
        {"81 01 04 4C 00 00 00 05 FF", {set(kImage, "ManualGain", "28")}},
        {"81 01 04 4B 00 00 00 05 FF", {set(kImage, "IrisPosition", "2")}},
        {"81 01 04 2C 0F FF", {set(kImage, "MaxGain", "100")}},
        {"81 01 04 4A 00 00 00 00 FF", {set(kImage, "ManualShutter", "1000000")}},
        {"81 01 04 34 02 FF", {set(kImage, "Stabilizer", "b'on'")}},
        {"81 01 04 39 0A FF",
         {set(kImage, "ManualShutterControl", "b'yes'"), set(kImage, "ManualGainControl", "b'no'"),
          set(kImage, "IrisEnabled", "b'yes'")}},
        {"81 01 04 33 02 FF", {set(kDriver, "VariousBackLight", "true")}},
        {"81 01 04 38 03 FF", {set(kDriver, "VariousAutoFocus", "false")}},
        {"81 01 04 28 01 00 00 00 FF", {set(kDriver, "LimitMinFocus", "9229")}},
        {"81 01 04 18 01 FF",
         {set(kDriver, "VariousAutoFocus", "false"), set(kImage, "FocusManualMode", "b'manual'"),
          set(kImage, "FocusManualMode", "b'push'")}},
        {"81 01 06 07 00 01 01 02 00 00 00 04 00 00 FF",
         {set(kDriver, "LimitMaxPan", "90"), set(kDriver, "LimitMaxTilt", "20")}},
        {"81 01 06 07 00 00 0E 0E 00 00 0F 0C 00 00 FF",
         {set(kDriver, "LimitMinPan", "-90"), set(kDriver, "LimitMinTilt", "-20")}},
        {"81 01 7E 01 0A 00 02 FF", {set(kLed, "TallyledUsage", "'on'")}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(cmd(row.packet), 0) << row.packet;
        EXPECT_EQ(calls(), row.calls) << row.packet;
    }
}

TEST_F(KorundDbus, InquiriesReadBackWhatCommandsSet)
{
    for (const char* mode : {"00", "01", "02", "04", "05"}) {
        ASSERT_EQ(cmd(std::string("81 01 04 35 ") + mode + " FF"), 0);
        EXPECT_EQ(inq("81 09 04 35 FF"), std::string("90 50 ") + mode + " FF");
    }
    for (const char* mode : {"00", "03", "0A", "0B", "0D"}) {
        ASSERT_EQ(cmd(std::string("81 01 04 39 ") + mode + " FF"), 0);
        EXPECT_EQ(inq("81 09 04 39 FF"), std::string("90 50 ") + mode + " FF");
    }
    ASSERT_EQ(cmd("81 01 04 38 03 FF"), 0);
    EXPECT_EQ(inq("81 09 04 38 FF"), "90 50 03 FF");
    ASSERT_EQ(cmd("81 01 04 38 10 FF"), 0); // toggle
    EXPECT_EQ(inq("81 09 04 38 FF"), "90 50 02 FF");
    ASSERT_EQ(cmd("81 01 04 33 02 FF"), 0);
    EXPECT_EQ(inq("81 09 04 33 FF"), "90 50 02 FF");
    ASSERT_EQ(cmd("81 01 04 33 03 FF"), 0);
    EXPECT_EQ(inq("81 09 04 33 FF"), "90 50 03 FF");

    // Stepping reads the camera: shutter 800 us on 50 Hz, then one faster.
    gint32 v = 0;
    ASSERT_EQ(cmd("81 01 04 4A 00 00 01 00 FF"), 0);
    ASSERT_EQ(cmd("81 01 04 0A 02 FF"), 0);
    ASSERT_EQ(visca_dbus_get_int(VISCA_PROXY_IMAGE, "ManualShutter", &v), 0);
    EXPECT_EQ(v, 571);
    // Frame-time setting -1 at 30 fps is 33333 us; one slower is 83333.
    ASSERT_EQ(cmd("81 01 04 0A 00 FF"), 0);
    ASSERT_EQ(cmd("81 01 04 0A 03 FF"), 0);
    ASSERT_EQ(visca_dbus_get_int(VISCA_PROXY_IMAGE, "ManualShutter", &v), 0);
    EXPECT_EQ(v, 83333);
    ASSERT_EQ(cmd("81 01 04 0B 02 FF"), 0); // iris 54 -> 58
    ASSERT_EQ(visca_dbus_get_int(VISCA_PROXY_IMAGE, "IrisPosition", &v), 0);
    EXPECT_EQ(v, 58);
    ASSERT_EQ(cmd("81 01 04 0C 02 FF"), 0); // gain 1 -> 7
    ASSERT_EQ(visca_dbus_get_int(VISCA_PROXY_IMAGE, "ManualGain", &v), 0);
    EXPECT_EQ(v, 7);
    ASSERT_EQ(cmd("81 01 04 03 02 FF"), 0); // red 50 -> 52
    ASSERT_EQ(visca_dbus_get_int(VISCA_PROXY_IMAGE, "RedBalance", &v), 0);
    EXPECT_EQ(v, 52);
}

TEST_F(KorundDbus, MovesShowInTheCameraAndInTheInquiries)
{
    // Absolute pan/tilt at full speed, then the position inquiry.
    ASSERT_EQ(cmd("81 01 06 02 18 18 00 06 00 00 0F 0E 00 00 FF"), 0); // 30, -10 degrees
    ASSERT_TRUE(testsupport::waitFor([&] { return settled(); }, std::chrono::seconds(10)));
    auto pose = rig.pose();
    EXPECT_NEAR(pose["pan"].get<double>(), 30.0, 0.05);
    EXPECT_NEAR(pose["tilt"].get<double>(), -10.0, 0.05);
    auto pt = nibbleValues(inq("81 09 06 12 FF"));
    ASSERT_EQ(pt.size(), 2u);
    EXPECT_NEAR(pt[0], 1536, 1);
    EXPECT_NEAR(pt[1], -512, 1);

    // Direct zoom to the middle of the optical range.
    ASSERT_EQ(cmd("81 01 04 47 02 00 00 00 FF"), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return settled(); }, std::chrono::seconds(10)));
    EXPECT_NEAR(rig.pose()["zoom"].get<double>(), 1.0 + 4999.0 * 19.0 / 9998.0, 0.05);
    auto z = nibbleValues(inq("81 09 04 47 FF"));
    ASSERT_EQ(z.size(), 1u);
    EXPECT_NEAR(z[0], 0x2000, 3);

    // Continuous pan right: the camera turns, the inquiry follows it.
    double before = rig.pose()["pan"].get<double>();
    ASSERT_EQ(cmd("81 01 06 01 10 00 02 03 FF"), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return rig.pose()["pan"].get<double>() > before + 5.0; },
                                     std::chrono::seconds(5)));
    ASSERT_EQ(cmd("81 01 06 01 00 00 03 03 FF"), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return settled(); }, std::chrono::seconds(5)));
    double pan = rig.pose()["pan"].get<double>();
    pt = nibbleValues(inq("81 09 06 12 FF"));
    EXPECT_NEAR(pt.at(0) / 51.2, pan, 0.05);

    // Home.
    ASSERT_EQ(cmd("81 01 06 04 FF"), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return settled(); }, std::chrono::seconds(10)));
    EXPECT_EQ(nibbleValues(inq("81 09 06 12 FF")), (std::vector<int>{0, 0}));
}

TEST_F(KorundDbus, PresetsByName)
{
    ASSERT_EQ(cmd("81 01 06 02 18 18 00 02 00 00 00 00 00 00 FF"), 0); // pan 10
    ASSERT_TRUE(testsupport::waitFor([&] { return settled(); }, std::chrono::seconds(10)));
    ASSERT_EQ(cmd("81 01 04 3F 01 04 FF"), 0); // set preset 5
    ASSERT_EQ(cmd("81 01 06 04 FF"), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return settled(); }, std::chrono::seconds(10)));
    ASSERT_EQ(cmd("81 01 04 3F 02 04 FF"), 0); // recall it
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return settled() && std::fabs(rig.pose()["pan"].get<double>() - 10.0) < 0.05; },
        std::chrono::seconds(10)));
    ASSERT_EQ(cmd("81 01 04 3F 00 04 FF"), 0); // reset it
    // Recalling a preset that is gone is refused by the camera.
    EXPECT_EQ(cmd("81 01 04 3F 02 04 FF"), -12);
}

TEST_F(KorundDbus, MalformedQueryPositionIsRefused)
{
    rig.control({{"cmd", "korund-fault"}, {"query-position", "malformed"}});
    EXPECT_EQ(inq("81 09 04 47 FF"), "rc=-12");
    EXPECT_EQ(inq("81 09 06 12 FF"), "rc=-12");
    ViscaPosition pos;
    EXPECT_EQ(visca_dbus_query_position(&pos), -12);
    rig.control({{"cmd", "korund-fault"}, {"query-position", "none"}});
    EXPECT_EQ(inq("81 09 06 12 FF").substr(0, 5), "90 50");
}

TEST_F(KorundDbus, RotationFollowsTheImageService)
{
    EXPECT_FALSE(visca_dbus_is_rotated());
    rig.setProperty("com.zeto.ImageControl", kImage, "Rotation", g_variant_new_bytestring("180"));
    ASSERT_TRUE(spinUntil([] { return visca_dbus_is_rotated() == TRUE; }));
    rig.takeCalls();
    ASSERT_EQ(cmd("81 01 06 01 18 18 01 01 FF"), 0);
    EXPECT_EQ(calls(), std::vector<std::string>{
                           coord("MovePTZ", "(sididiiii)", "100.0, 3, -100.0, 3, 0, 0, 0")});
    ASSERT_EQ(cmd("81 01 06 01 00 00 03 03 FF"), 0);

    rig.setProperty("com.zeto.ImageControl", kImage, "Rotation", g_variant_new_bytestring("0"));
    ASSERT_TRUE(spinUntil([] { return visca_dbus_is_rotated() == FALSE; }));

    // The rotation is also read when the proxies are opened.
    rig.setProperty("com.zeto.ImageControl", kImage, "Rotation", g_variant_new_bytestring("180"));
    visca_dbus_close();
    ASSERT_EQ(visca_dbus_open_property_proxies(), 0);
    EXPECT_TRUE(visca_dbus_is_rotated());
}

TEST_F(KorundDbus, RotationSignalParsing)
{
    auto signal = [](const char* name, GVariant* value) {
        GVariantBuilder b;
        g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
        if (value)
            g_variant_builder_add(&b, "{sv}", name, value);
        GVariant* params = g_variant_ref_sink(
            g_variant_new("(sa{sv}as)", "com.zeto.Configuration.Legacy", &b, nullptr));
        visca_dbus_rotation_changed("PropertiesChanged", params);
        g_variant_unref(params);
    };
    signal("Rotation", g_variant_new_bytestring("180"));
    EXPECT_TRUE(visca_dbus_is_rotated());
    signal("WhiteBalance", g_variant_new_bytestring("auto")); // other properties: no change
    EXPECT_TRUE(visca_dbus_is_rotated());
    signal("Rotation", g_variant_new_string("180")); // not a bytestring
    EXPECT_FALSE(visca_dbus_is_rotated());
    signal("Rotation", g_variant_new_bytestring("180"));
    GVariant* odd = g_variant_ref_sink(g_variant_new("(s)", "x"));
    visca_dbus_rotation_changed("PropertiesChanged", odd); // wrong form: ignored
    visca_dbus_rotation_changed("Other", nullptr);
    g_variant_unref(odd);
    EXPECT_TRUE(visca_dbus_is_rotated());
    signal("Rotation", g_variant_new_bytestring("0"));
    EXPECT_FALSE(visca_dbus_is_rotated());
}

TEST_F(KorundDbus, TypedPropertyAccess)
{
    g_autofree char* prod = nullptr;
    ASSERT_EQ(visca_dbus_get_string(VISCA_PROXY_DEVICE_INFO, "ProdNbr", &prod), 0);
    EXPECT_STREQ(prod, "Z1201");
    g_autofree char* ip = nullptr;
    ASSERT_EQ(visca_dbus_get_bytestring(VISCA_PROXY_NET, "Eth0IPAddress", &ip), 0);
    EXPECT_STREQ(ip, "127.0.0.1");
    gint32 fps = 0;
    EXPECT_EQ(visca_dbus_get_stream_int(VISCA_PROXY_IMAGE, "SensorMaxFramerate", &fps), 0);
    EXPECT_EQ(fps, 30000);
    gboolean b = FALSE;
    EXPECT_EQ(visca_dbus_get_boolean(VISCA_PROXY_PTZ_DRIVER, "VariousAutoFocus", &b), 0);
    EXPECT_TRUE(b);

    // A value of another type than asked for.
    gint32 i = 0;
    double d = 0;
    char* text = nullptr;
    EXPECT_EQ(visca_dbus_get_int(VISCA_PROXY_IMAGE, "WhiteBalance", &i), -3);
    EXPECT_EQ(visca_dbus_get_double(VISCA_PROXY_PTZ_DRIVER, "LimitMinPan", &d), -3);
    EXPECT_EQ(visca_dbus_get_string(VISCA_PROXY_IMAGE, "WhiteBalance", &text), -3);
    EXPECT_EQ(visca_dbus_get_bytestring(VISCA_PROXY_DEVICE_INFO, "ProdNbr", &text), -3);
    EXPECT_EQ(text, nullptr);
    // Unknown properties and refused writes are D-Bus errors.
    EXPECT_EQ(visca_dbus_get_int(VISCA_PROXY_IMAGE, "SensorMaxFramerate", &i), -12);
    EXPECT_EQ(visca_dbus_get_boolean(VISCA_PROXY_LED, "Nope", &b), -12);
    EXPECT_EQ(visca_dbus_set_int(VISCA_PROXY_IMAGE, "WhiteBalance", 1), -12);
    EXPECT_EQ(visca_dbus_set_double(VISCA_PROXY_PTZ_DRIVER, "LimitMinPan", 1.0), -12);
    EXPECT_EQ(visca_dbus_set_string(VISCA_PROXY_IMAGE, "WhiteBalance", "auto"), -12);
    g_autofree char* wb = nullptr;
    ASSERT_EQ(visca_dbus_get_bytestring(VISCA_PROXY_IMAGE, "WhiteBalance", &wb), 0);
    EXPECT_STREQ(wb, "auto");
    // Indexes outside 1..5.
    EXPECT_EQ(visca_dbus_get_int(0, "ManualGain", &i), -13);
    EXPECT_EQ(visca_dbus_set_int(6, "ManualGain", 1), -13);

    EXPECT_TRUE(visca_dbus_name_present("com.zeto.ImageControl"));
    EXPECT_TRUE(visca_dbus_name_present("com.zeto.PTZ.Coordinator"));
    EXPECT_FALSE(visca_dbus_name_present("com.zeto.Absent"));
}

TEST_F(KorundDbus, ClosedProxiesAnswerMinus13)
{
    visca_dbus_close();
    gint32 i = 0;
    EXPECT_EQ(visca_dbus_get_int(VISCA_PROXY_IMAGE, "ManualGain", &i), -13);
    EXPECT_EQ(visca_dbus_set_boolean(VISCA_PROXY_PTZ_DRIVER, "VariousBackLight", TRUE), -13);
    EXPECT_EQ(cmd("81 01 04 07 02 FF"), -13);
    EXPECT_EQ(cmd("81 01 06 04 FF"), -13);
    EXPECT_EQ(inq("81 09 06 12 FF"), "rc=-13");
    EXPECT_TRUE(rig.takeCalls(true).empty());
}

class KorundDbusWithoutImage : public KorundDbus
{
protected:
    KorundDbusWithoutImage() : KorundDbus({"--korund-no-image-control"}) {}
};

TEST_F(KorundDbusWithoutImage, ImageCommandsFailWhilePanTiltZoomWork)
{
    EXPECT_FALSE(visca_dbus_name_present("com.zeto.ImageControl"));
    EXPECT_FALSE(visca_dbus_is_rotated());
    for (const char* packet :
         {"81 01 04 35 00 FF", "81 01 04 10 00 FF", "81 01 04 0A 02 FF",
          "81 01 04 4A 00 00 00 01 FF", "81 01 04 0B 02 FF", "81 01 04 4B 00 00 00 05 FF",
          "81 01 04 0C 02 FF", "81 01 04 4C 00 00 00 01 FF", "81 01 04 2C 0F FF",
          "81 01 04 39 00 FF", "81 01 04 01 02 FF", "81 01 04 34 02 FF", "81 01 04 03 02 FF"})
        EXPECT_EQ(cmd(packet), -13) << packet;
    EXPECT_EQ(inq("81 09 04 35 FF"), "rc=-13");
    EXPECT_EQ(inq("81 09 04 39 FF"), "rc=-13");

    EXPECT_EQ(cmd("81 01 04 07 02 FF"), 0);
    EXPECT_EQ(cmd("81 01 04 07 00 FF"), 0);
    EXPECT_EQ(cmd("81 01 06 01 10 10 02 01 FF"), 0);
    EXPECT_EQ(cmd("81 01 06 01 00 00 03 03 FF"), 0);
    EXPECT_EQ(cmd("81 01 04 33 02 FF"), 0); // driver settings
    EXPECT_EQ(cmd("81 01 7E 01 0A 00 03 FF"), 0);
    EXPECT_EQ(inq("81 09 06 12 FF").substr(0, 5), "90 50");
    EXPECT_EQ(inq("81 09 04 47 FF").substr(0, 5), "90 50");
}

} // namespace

namespace
{

// The small driver moves and zooms the simulated camera and reads it back.
TEST(ViscaDrive, MovesZoomsAndReportsThroughInquiries)
{
    CamsimRig rig;
    testsupport::ChildProcess drive(
        {VISCA_DRIVE, "81 01 04 07 27 FF", "sleep:500", "81 01 04 07 00 FF",
         "81 01 06 02 18 18 00 06 00 00 0F 0E 00 00 FF", "sleep:1500", "81 09 06 12 FF",
         "81 09 04 47 FF", "81 09 00 02 FF", "82 01 04 07 02 FF", "81 01 04 07 2F FF"});
    ASSERT_EQ(drive.waitExit(std::chrono::seconds(20)), 0) << drive.output();
    std::string out = drive.output();
    auto pose = rig.pose();
    EXPECT_NEAR(pose["pan"].get<double>(), 30.0, 0.05);
    EXPECT_NEAR(pose["tilt"].get<double>(), -10.0, 0.05);
    EXPECT_GT(pose["zoom"].get<double>(), 1.2);

    EXPECT_NE(out.find("> 81 01 04 07 27 FF\n< 90 41 FF\n< 90 51 FF\n"), std::string::npos) << out;
    auto reply = [&](const std::string& request) {
        auto at = out.find("> " + request + "\n< ");
        return at == std::string::npos
                   ? std::string()
                   : out.substr(at + request.size() + 5, out.find('\n', at + request.size() + 5) -
                                                             (at + request.size() + 5));
    };
    auto pt = reply("81 09 06 12 FF");
    ASSERT_EQ(pt.size(), 32u) << out;
    auto b = hex(pt);
    int panSteps = static_cast<int16_t>((b[2] << 12) | (b[3] << 8) | (b[4] << 4) | b[5]);
    int tiltSteps = static_cast<int16_t>((b[6] << 12) | (b[7] << 8) | (b[8] << 4) | b[9]);
    EXPECT_NEAR(panSteps, 1536, 1);
    EXPECT_NEAR(tiltSteps, -512, 1);
    auto zoom = hex(reply("81 09 04 47 FF"));
    ASSERT_EQ(zoom.size(), 7u) << out;
    EXPECT_GT((zoom[2] << 12) | (zoom[3] << 8) | (zoom[4] << 4) | zoom[5], 0);
    EXPECT_EQ(reply("81 09 00 02 FF"), "90 50 5A 54 5A 0C 01 00 02 FF");
    EXPECT_NE(out.find("> 82 01 04 07 02 FF\n= pass on 82 01 04 07 02 FF\n"), std::string::npos);
    EXPECT_NE(out.find("> 81 01 04 07 2F FF\n< 90 61 41 FF\n  result -25\n"), std::string::npos);
}

} // namespace
