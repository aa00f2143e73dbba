// Table-driven tests of visca_cmd_parser over a fake camera.
#include <gtest/gtest.h>

#include "fake_actions.h"
#include "visca_device.h"
#include "visca_parser.h"
#include "visca_test_util.h"

using kortest::FakeActions;
using kortest::hex;

namespace
{

struct CmdCase {
    const char* packet; // "8x" is this device's header
    int rc;
    std::vector<std::string> calls;
};

class CmdParser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fake.install();
        fake.setBytes(2, "CaptureFrequency", "50Hz");
        fake.setInt(2, "ManualShutter", 1000);
        fake.setInt(2, "SensorMaxFramerate", 30000);
        fake.setInt(2, "IrisPosition", 54);
        fake.setInt(2, "ManualGain", 50);
        fake.setInt(2, "RedBalance", 50);
        fake.setInt(2, "BlueBalance", 50);
        fake.setBool(3, "VariousAutoFocus", true);
        fake.setBool(3, "VariousBackLight", false);
    }
    void TearDown() override
    {
        visca_set_device_id(1);
        visca_set_over_ip(FALSE);
    }

    int run(const std::string& packet, int id = 1)
    {
        auto bytes = hex(packet, id);
        fake.calls.clear();
        return visca_cmd_parser(bytes.data(), bytes.size());
    }

    void check(const std::vector<CmdCase>& cases)
    {
        for (int id : {1, 7}) {
            ASSERT_TRUE(visca_set_device_id(static_cast<guint8>(id)));
            for (const auto& c : cases) {
                SetUp();
                EXPECT_EQ(run(c.packet, id), c.rc) << c.packet << " device " << id;
                EXPECT_EQ(fake.calls, c.calls) << c.packet << " device " << id;
            }
        }
        visca_set_device_id(1);
        SetUp();
    }

    FakeActions fake;
};

std::string movePtz(const std::string& args)
{
    return "MovePTZ(" + args + ")";
}

TEST_F(CmdParser, PacketChecks)
{
    check({
        {"8x 01 04 FF", -22, {}},          // shorter than 5
        {"8x 01 04 07 FF", -22, {}},       // zoom needs 6
        {"8x 01 04 07 02 00 FF", -22, {}}, // one byte too many
        {"8x 09 04 07 02 FF", -1, {}},     // inquiry type
        {"8x 02 04 07 02 FF", -1, {}},
        {"8x 01 05 07 02 FF", -21, {}}, // unknown category
        {"8x 01 04 99 00 FF", -21, {}}, // unknown camera command
        {"8x 01 04 0D 00 FF", -21, {}}, // passes the length rule only
        {"8x 01 04 58 00 FF", -21, {}},
        {"8x 01 04 4D 00 00 00 00 FF", -21, {}},
        {"8x 01 04 47 00 00 00 FF", -22, {}}, // direct zoom needs 9
        {"8x 01 04 3F 01 01 00 FF", -22, {}}, // memory needs 7
        {"8x 01 06 06 FF", -21, {}},          // limit clear
        {"8x 01 06 09 FF", -21, {}},
        {"8x 01 06 04 00 FF", -22, {}},
        {"8x 01 06 01 01 01 03 03 00 FF", -22, {}},
        {"8x 01 06 02 01 01 FF", -22, {}},
        {"8x 01 7E 01 0A 00 02 00 FF", -22, {}},
        {"8x 01 7E 01 0B 00 02 FF", -21, {}},
        {"8x 01 7E 02 0A 00 02 FF", -21, {}},
    });
}

TEST_F(CmdParser, OtherDeviceIsNotAnswered)
{
    EXPECT_EQ(run("82 01 04 07 02 FF"), -23);
    EXPECT_EQ(run("80 01 04 07 02 FF"), -23);
    EXPECT_EQ(run("88 01 04 07 02 FF"), -23);
    EXPECT_TRUE(fake.calls.empty());
    visca_set_device_id(2);
    EXPECT_EQ(run("82 01 04 07 02 FF"), 0);
}

TEST_F(CmdParser, PowerAndIrCut)
{
    check({
        {"8x 01 04 00 02 FF", 0, {}},
        {"8x 01 04 00 03 FF", -21, {}},
        {"8x 01 04 00 00 FF", -25, {}},
        {"8x 01 04 01 02 FF", 0, {"set_bytestring 2 IrCutFilter=no"}},
        {"8x 01 04 01 03 FF", 0, {"set_bytestring 2 IrCutFilter=yes"}},
        {"8x 01 04 01 04 FF", -24, {}},
        {"8x 01 04 51 02 FF", 0, {"set_bytestring 2 IrCutFilter=auto"}},
        {"8x 01 04 51 03 FF", 0, {"set_bytestring 2 IrCutFilter=yes"}},
        {"8x 01 04 51 00 FF", -24, {}},
        {"8x 01 04 21 00 00 00 00 FF", 0, {"set_int 2 AutoIrCutFilterHysteresis=0"}},
        {"8x 01 04 21 00 00 00 0E FF", 0, {"set_int 2 AutoIrCutFilterHysteresis=50"}},
        {"8x 01 04 21 00 00 01 0B FF", 0, {"set_int 2 AutoIrCutFilterHysteresis=96"}},
        {"8x 01 04 21 00 00 01 0C FF", 0, {"set_int 2 AutoIrCutFilterHysteresis=100"}},
        {"8x 01 04 21 00 00 01 0D FF", -25, {}},
    });
}

TEST_F(CmdParser, Zoom)
{
    check({
        {"8x 01 04 07 00 FF", 0, {movePtz("0,0,0,0,0,3,0")}},
        {"8x 01 04 07 02 FF", 0, {movePtz("0,0,0,0,100,3,0")}},
        {"8x 01 04 07 03 FF", 0, {movePtz("0,0,0,0,-100,3,0")}},
        {"8x 01 04 07 20 FF", 0, {movePtz("0,0,0,0,12,3,0")}},
        {"8x 01 04 07 23 FF", 0, {movePtz("0,0,0,0,50,3,0")}},
        {"8x 01 04 07 27 FF", 0, {movePtz("0,0,0,0,100,3,0")}},
        {"8x 01 04 07 30 FF", 0, {movePtz("0,0,0,0,-12,3,0")}},
        {"8x 01 04 07 37 FF", 0, {movePtz("0,0,0,0,-100,3,0")}},
        {"8x 01 04 07 28 FF", -25, {}},
        {"8x 01 04 07 2F FF", -25, {}},
        {"8x 01 04 07 38 FF", -25, {}},
        {"8x 01 04 07 01 FF", -25, {}},
        {"8x 01 04 07 40 FF", -25, {}},
        {"8x 01 04 47 00 00 00 00 FF", 0, {movePtz("0,0,0,0,1,1,0")}},
        {"8x 01 04 47 02 00 00 00 FF", 0, {movePtz("0,0,0,0,5000,1,0")}},
        {"8x 01 04 47 04 00 00 00 FF", 0, {movePtz("0,0,0,0,9999,1,0")}},
        {"8x 01 04 47 04 00 00 01 FF", 0, {movePtz("0,0,0,0,10000,1,0")}},
        {"8x 01 04 47 07 0A 0C 00 FF", 0, {movePtz("0,0,0,0,19999,1,0")}},
        {"8x 01 04 47 07 0A 0C 01 FF", -25, {}},
        {"8x 01 04 47 0F 0F 0F 0F FF", -25, {}},
        // only the low nibbles count
        {"8x 01 04 47 F4 F0 F0 F1 FF", 0, {movePtz("0,0,0,0,10000,1,0")}},
    });
}

TEST_F(CmdParser, Focus)
{
    check({
        {"8x 01 04 08 00 FF", 0, {"Move(0,3)"}},
        {"8x 01 04 08 02 FF", 0, {"Move(100,3)"}},
        {"8x 01 04 08 03 FF", 0, {"Move(-100,3)"}},
        {"8x 01 04 08 23 FF", 0, {"Move(50,3)"}},
        {"8x 01 04 08 35 FF", 0, {"Move(-75,3)"}},
        {"8x 01 04 08 3F FF", -25, {}},
        {"8x 01 04 08 10 FF", -25, {}},
        {"8x 01 04 48 01 00 00 00 FF", 0, {"Move(1,1)"}},
        {"8x 01 04 48 0F 00 00 00 FF", 0, {"Move(9999,1)"}},
        {"8x 01 04 48 08 00 00 00 FF", 0, {"Move(5000,1)"}},
        {"8x 01 04 48 00 0F 0F 0F FF", -25, {}},
        {"8x 01 04 48 0F 00 00 01 FF", -25, {}},
        {"8x 01 04 38 02 FF", 0, {"set_boolean 3 VariousAutoFocus=true"}},
        {"8x 01 04 38 03 FF", 0, {"set_boolean 3 VariousAutoFocus=false"}},
        {"8x 01 04 38 10 FF",
         0,
         {"get_boolean 3 VariousAutoFocus", "set_boolean 3 VariousAutoFocus=false"}},
        {"8x 01 04 38 04 FF", -24, {}},
        {"8x 01 04 18 01 FF",
         0,
         {"set_boolean 3 VariousAutoFocus=false", "set_bytestring 2 FocusManualMode=manual",
          "set_bytestring 2 FocusManualMode=push"}},
        {"8x 01 04 18 02 FF", -25, {}},
        {"8x 01 04 28 00 00 00 00 FF", -25, {}},
        {"8x 01 04 28 01 00 00 00 FF", 0, {"set_int 3 LimitMinFocus=9229"}},
        {"8x 01 04 28 07 0F 0F 0F FF", 0, {"set_int 3 LimitMinFocus=5384"}},
        {"8x 01 04 28 0F 00 00 00 FF", 0, {"set_int 3 LimitMinFocus=1"}},
        {"8x 01 04 28 10 00 00 00 FF", -25, {}},
    });
}

TEST_F(CmdParser, AutoFocusToggleReadFailure)
{
    fake.failProperty(3, "VariousAutoFocus", -12);
    EXPECT_EQ(run("81 01 04 38 10 FF"), -3);
    fake.failProperty(3, "VariousAutoFocus", -13);
    EXPECT_EQ(run("81 01 04 38 10 FF"), -3);
}

TEST_F(CmdParser, WhiteBalance)
{
    check({
        {"8x 01 04 35 00 FF", 0, {"set_bytestring 2 WhiteBalance=auto"}},
        {"8x 01 04 35 01 FF", 0, {"set_bytestring 2 WhiteBalance=fixed_indoor"}},
        {"8x 01 04 35 02 FF", 0, {"set_bytestring 2 WhiteBalance=fixed_outdoor1"}},
        {"8x 01 04 35 03 FF", -24, {}},
        {"8x 01 04 35 04 FF", 0, {"set_bytestring 2 WhiteBalance=auto_outdoor"}},
        {"8x 01 04 35 05 FF", 0, {"set_bytestring 2 WhiteBalance=onepush"}},
        {"8x 01 04 35 06 FF", -24, {}},
        {"8x 01 04 10 05 FF", 0, {"set_bytestring 2 WhiteBalance=onepush", "Auxiliary(wbonep)"}},
        {"8x 01 04 03 00 FF",
         0,
         {"set_bytestring 2 WhiteBalance=onepush", "set_int 2 RedBalance=50"}},
        {"8x 01 04 03 02 FF",
         0,
         {"set_bytestring 2 WhiteBalance=onepush", "get_int 2 RedBalance",
          "set_int 2 RedBalance=52"}},
        {"8x 01 04 03 03 FF",
         0,
         {"set_bytestring 2 WhiteBalance=onepush", "get_int 2 RedBalance",
          "set_int 2 RedBalance=48"}},
        {"8x 01 04 03 01 FF", -24, {}},
        {"8x 01 04 04 02 FF",
         0,
         {"set_bytestring 2 WhiteBalance=onepush", "get_int 2 BlueBalance",
          "set_int 2 BlueBalance=52"}},
        {"8x 01 04 04 05 FF", -24, {}},
        {"8x 01 04 43 00 00 0F 0F FF",
         0,
         {"set_bytestring 2 WhiteBalance=onepush", "set_int 2 RedBalance=100"}},
        {"8x 01 04 43 00 00 08 00 FF",
         0,
         {"set_bytestring 2 WhiteBalance=onepush", "set_int 2 RedBalance=50"}},
        {"8x 01 04 44 00 00 00 00 FF",
         0,
         {"set_bytestring 2 WhiteBalance=onepush", "set_int 2 BlueBalance=0"}},
    });
}

TEST_F(CmdParser, ColourGainStepsStopAtTheEnds)
{
    struct Step {
        int from;
        const char* dir;
        int to;
    };
    for (Step s : {Step{98, "02", 100}, Step{99, "02", 100}, Step{100, "02", 100},
                   Step{97, "02", 99}, Step{2, "03", 0}, Step{1, "03", 0}, Step{3, "03", 1}}) {
        fake.setInt(2, "RedBalance", s.from);
        EXPECT_EQ(run(std::string("81 01 04 03 ") + s.dir + " FF"), 0);
        EXPECT_EQ(std::get<int>(fake.get(2, "RedBalance")), s.to) << s.from << " " << s.dir;
    }
}

TEST_F(CmdParser, ColourGainOnePushFailures)
{
    // Relative: the mode write may fail, the value is still stepped.
    fake.failProperty(2, "WhiteBalance", -12);
    EXPECT_EQ(run("81 01 04 03 02 FF"), 0);
    EXPECT_EQ(std::get<int>(fake.get(2, "RedBalance")), 52);
    // Direct: the mode write failing ends the command.
    EXPECT_EQ(run("81 01 04 43 00 00 00 00 FF"), -12);
    EXPECT_EQ(std::get<int>(fake.get(2, "RedBalance")), 52);
    fake.failProperty(2, "RedBalance", -13);
    EXPECT_EQ(run("81 01 04 03 02 FF"), -13);
}

TEST_F(CmdParser, AutoExposure)
{
    auto ae = [](const char* s, const char* g, const char* i) {
        return std::vector<std::string>{std::string("set_bytestring 2 ManualShutterControl=") + s,
                                        std::string("set_bytestring 2 ManualGainControl=") + g,
                                        std::string("set_bytestring 2 IrisEnabled=") + i};
    };
    check({
        {"8x 01 04 39 00 FF", 0, ae("no", "no", "yes")},
        {"8x 01 04 39 03 FF", 0, ae("yes", "yes", "no")},
        {"8x 01 04 39 0A FF", 0, ae("yes", "no", "yes")},
        {"8x 01 04 39 0B FF", 0, ae("no", "no", "no")},
        {"8x 01 04 39 0D FF", 0, ae("no", "yes", "no")},
        {"8x 01 04 39 01 FF", 0, ae("yes", "yes", "yes")},
    });
    fake.failProperty(2, "ManualGainControl", -12);
    EXPECT_EQ(run("81 01 04 39 00 FF"), -12);
    EXPECT_EQ(fake.calls.size(), 2u); // the first failure ends the command
}

TEST_F(CmdParser, ShutterRelative)
{
    const std::vector<std::string> read = {"get_bytestring 2 CaptureFrequency",
                                           "get_int 2 ManualShutter"};
    auto with = [&](std::string set) {
        auto v = read;
        v.push_back("set_int 2 ManualShutter=" + set);
        return v;
    };
    check({
        {"8x 01 04 0A 00 FF", 0, {"set_int 2 ManualShutter=-1"}},
        {"8x 01 04 0A 01 FF", -24, {}},
        {"8x 01 04 0A 02 FF", 0, with("800")},
        {"8x 01 04 0A 03 FF", 0, with("1666")},
    });
}

TEST_F(CmdParser, ShutterSteppingAtTheTableEnds)
{
    struct Step {
        const char* freq;
        int from;
        const char* dir;
        int to; // 0: nothing written
    };
    for (Step s : {
             Step{"50Hz", 100, "02", 0}, // fastest: up changes nothing
             Step{"50Hz", 100, "03", 166},
             Step{"50Hz", 2000000, "02", 500000}, // slower than the table
             Step{"50Hz", 2000000, "03", 1000000},
             Step{"50Hz", 1000000, "03", 1000000},
             Step{"50Hz", 500000, "03", 1000000},
             Step{"50Hz", 500000, "02", 333333},
             Step{"60Hz", 1000, "02", 666},
             Step{"60Hz", 1000, "03", 1379},
             Step{"60Hz", 900, "02", 666}, // between entries
             Step{"60Hz", 900, "03", 1379},
             Step{"60Hz", 50, "02", 0},
         }) {
        SetUp();
        fake.setBytes(2, "CaptureFrequency", s.freq);
        fake.setInt(2, "ManualShutter", s.from);
        EXPECT_EQ(run(std::string("81 01 04 0A ") + s.dir + " FF"), 0);
        int expectedCalls = s.to ? 3 : 2;
        EXPECT_EQ(static_cast<int>(fake.calls.size()), expectedCalls) << s.from << " " << s.dir;
        EXPECT_EQ(std::get<int>(fake.get(2, "ManualShutter")), s.to ? s.to : s.from)
            << s.freq << " " << s.from << " " << s.dir;
    }
}

TEST_F(CmdParser, ShutterFromFrameTime)
{
    // -1 frame at 30 fps is 33333 us: between 40000 and 20000 on 50 Hz.
    fake.setInt(2, "ManualShutter", -1);
    EXPECT_EQ(run("81 01 04 0A 02 FF"), 0);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"get_bytestring 2 CaptureFrequency",
                                                    "get_int 2 ManualShutter",
                                                    "get_stream_int 2 SensorMaxFramerate",
                                                    "set_int 2 ManualShutter=20000"}));
    fake.setInt(2, "ManualShutter", -1);
    EXPECT_EQ(run("81 01 04 0A 03 FF"), 0);
    EXPECT_EQ(std::get<int>(fake.get(2, "ManualShutter")), 83333);

    // A frame rate below 1 fps cannot convert.
    fake.setInt(2, "ManualShutter", -1);
    fake.setInt(2, "SensorMaxFramerate", 999);
    EXPECT_EQ(run("81 01 04 0A 02 FF"), -3);
    // A huge frame-time value saturates instead of overflowing.
    fake.setInt(2, "SensorMaxFramerate", 1000);
    fake.setInt(2, "ManualShutter", -2000000000);
    EXPECT_EQ(run("81 01 04 0A 02 FF"), 0);
    EXPECT_EQ(std::get<int>(fake.get(2, "ManualShutter")), 500000);
}

TEST_F(CmdParser, ShutterMainsFrequency)
{
    fake.setBytes(2, "CaptureFrequency", "55Hz");
    EXPECT_EQ(run("81 01 04 0A 02 FF"), -3);
    EXPECT_EQ(run("81 01 04 4A 00 00 00 01 FF"), -3);
    fake.failProperty(2, "CaptureFrequency", -12);
    EXPECT_EQ(run("81 01 04 0A 02 FF"), -12);
    fake.failProperty(2, "CaptureFrequency", -13);
    EXPECT_EQ(run("81 01 04 4A 00 00 00 01 FF"), -13);
}

TEST_F(CmdParser, ShutterDirect)
{
    check({
        {"8x 01 04 4A 00 00 00 00 FF",
         0,
         {"get_bytestring 2 CaptureFrequency", "set_int 2 ManualShutter=1000000"}},
        {"8x 01 04 4A 00 00 01 05 FF",
         0,
         {"get_bytestring 2 CaptureFrequency", "set_int 2 ManualShutter=100"}},
        {"8x 01 04 4A 00 00 01 06 FF", 0, {}},
        {"8x 01 04 4A 00 00 0F 0F FF", 0, {}},
    });
    fake.setBytes(2, "CaptureFrequency", "60Hz");
    EXPECT_EQ(run("81 01 04 4A 00 00 00 02 FF"), 0);
    EXPECT_EQ(std::get<int>(fake.get(2, "ManualShutter")), 250000);
}

TEST_F(CmdParser, IrisAndGain)
{
    check({
        {"8x 01 04 0B 00 FF", 0, {"set_int 2 IrisPosition=97"}},
        {"8x 01 04 0B 02 FF", 0, {"get_int 2 IrisPosition", "set_int 2 IrisPosition=58"}},
        {"8x 01 04 0B 03 FF", 0, {"get_int 2 IrisPosition", "set_int 2 IrisPosition=41"}},
        {"8x 01 04 0B 04 FF", -24, {}},
        {"8x 01 04 4B 00 00 00 05 FF", 0, {"set_int 2 IrisPosition=2"}},
        {"8x 01 04 4B 00 00 01 01 FF", 0, {"set_int 2 IrisPosition=97"}},
        {"8x 01 04 4B 00 00 00 04 FF", -25, {}},
        {"8x 01 04 4B 00 00 01 02 FF", -25, {}},
        {"8x 01 04 0C 00 FF", 0, {"set_int 2 ManualGain=1"}},
        {"8x 01 04 0C 02 FF", 0, {"get_int 2 ManualGain", "set_int 2 ManualGain=57"}},
        {"8x 01 04 0C 03 FF", 0, {"get_int 2 ManualGain", "set_int 2 ManualGain=43"}},
        {"8x 01 04 0C 01 FF", -24, {}},
        {"8x 01 04 4C 00 00 00 01 FF", 0, {"set_int 2 ManualGain=1"}},
        {"8x 01 04 4C 00 00 00 0F FF", 0, {"set_int 2 ManualGain=98"}},
        {"8x 01 04 4C 00 00 00 00 FF", -25, {}},
        {"8x 01 04 4C 00 00 01 00 FF", -25, {}},
        {"8x 01 04 2C 04 FF", 0, {"set_int 2 MaxGain=2"}},
        {"8x 01 04 2C 0F FF", 0, {"set_int 2 MaxGain=100"}},
        {"8x 01 04 2C 03 FF", -25, {}},
        {"8x 01 04 2C 10 FF", -25, {}},
    });
}

TEST_F(CmdParser, IrisAndGainSteppingAtTheTableEnds)
{
    struct Step {
        const char* property;
        const char* cmd;
        int from;
        const char* dir;
        int to;
        bool written;
    };
    for (Step s : {
             Step{"IrisPosition", "0B", 97, "02", 97, false}, // last index
             Step{"IrisPosition", "0B", 97, "03", 92, true},
             Step{"IrisPosition", "0B", 2, "03", 2, false}, // neighbour unsupported
             Step{"IrisPosition", "0B", 2, "02", 8, true},
             Step{"IrisPosition", "0B", 50, "02", 50, true}, // unknown: written back
             Step{"IrisPosition", "0B", -1, "02", -1, true},
             Step{"ManualGain", "0C", 98, "02", 98, false},
             Step{"ManualGain", "0C", 93, "02", 98, true},
             Step{"ManualGain", "0C", 1, "03", 1, false},
             Step{"ManualGain", "0C", 1, "02", 7, true},
             Step{"ManualGain", "0C", 0, "03", 0, true},
         }) {
        fake.setInt(2, s.property, s.from);
        EXPECT_EQ(run(std::string("81 01 04 ") + s.cmd + " " + s.dir + " FF"), 0);
        EXPECT_EQ(std::get<int>(fake.get(2, s.property)), s.to) << s.property << " " << s.from;
        EXPECT_EQ(fake.calls.size(), s.written ? 2u : 1u) << s.property << " " << s.from;
    }
}

TEST_F(CmdParser, BackLightStabilizerMemory)
{
    check({
        {"8x 01 04 33 02 FF", 0, {"set_boolean 3 VariousBackLight=true"}},
        {"8x 01 04 33 03 FF", 0, {"set_boolean 3 VariousBackLight=false"}},
        {"8x 01 04 33 00 FF", -24, {}},
        {"8x 01 04 34 02 FF", 0, {"set_bytestring 2 Stabilizer=on"}},
        {"8x 01 04 34 03 FF", 0, {"set_bytestring 2 Stabilizer=off"}},
        {"8x 01 04 34 00 FF", -25, {}},
        {"8x 01 04 3F 00 00 FF", 0, {"RemovePresetName(VISCA preset - 01)"}},
        {"8x 01 04 3F 01 0F FF", 0, {"SetPresetName(VISCA preset - 16)"}},
        {"8x 01 04 3F 02 05 FF", 0, {"GotoPresetName(VISCA preset - 06)"}},
        {"8x 01 04 3F 02 F5 FF", 0, {"GotoPresetName(VISCA preset - 06)"}},
        {"8x 01 04 3F 03 00 FF", -25, {}},
    });
}

TEST_F(CmdParser, PanTiltContinuous)
{
    check({
        {"8x 01 06 01 18 18 01 01 FF", 0, {movePtz("-100,3,100,3,0,0,0")}},
        {"8x 01 06 01 18 18 02 02 FF", 0, {movePtz("100,3,-100,3,0,0,0")}},
        {"8x 01 06 01 0C 01 02 02 FF", 0, {movePtz("14,3,-0.2,3,0,0,0")}},
        {"8x 01 06 01 00 00 03 03 FF", 0, {movePtz("0,3,0,3,0,0,0")}},
        {"8x 01 06 01 18 18 03 01 FF", 0, {movePtz("0,3,100,3,0,0,0")}},
        {"8x 01 06 01 19 00 03 03 FF", -25, {}},
        {"8x 01 06 01 00 19 03 03 FF", -25, {}},
        {"8x 01 06 01 00 00 04 03 FF", -25, {}},
        {"8x 01 06 01 00 00 03 00 FF", -25, {}},
    });
}

TEST_F(CmdParser, PanTiltContinuousRotated)
{
    fake.rotated = true;
    EXPECT_EQ(run("81 01 06 01 18 05 01 01 FF"), 0);
    EXPECT_EQ(fake.calls, std::vector<std::string>{movePtz("100,3,-1.25,3,0,0,0")});
    EXPECT_EQ(run("81 01 06 01 18 05 03 03 FF"), 0);
    EXPECT_EQ(fake.calls, std::vector<std::string>{movePtz("0,3,0,3,0,0,0")});
}

TEST_F(CmdParser, PanTiltAbsoluteAndRelative)
{
    check({
        {"8x 01 06 02 18 00 00 00 00 00 00 00 00 00 FF", 0, {movePtz("0,1,0,1,0,0,100")}},
        {"8x 01 06 02 07 03 01 02 00 00 0F 0C 00 00 FF", 0, {movePtz("90,1,-20,1,0,0,2")}},
        {"8x 01 06 02 01 01 02 04 00 00 0D 0C 00 00 FF", 0, {movePtz("180,1,-180,1,0,0,0")}},
        {"8x 01 06 02 01 01 02 04 00 01 00 00 00 00 FF", 0, {movePtz("-179.98,1,0,1,0,0,0")}},
        {"8x 01 06 02 01 01 03 00 00 00 00 00 00 00 FF", 0, {movePtz("-120,1,0,1,0,0,0")}},
        // 0x7FFF is 639.98 degrees and 0x8000 -640: wrapped all the way into the range
        {"8x 01 06 02 01 01 07 0F 0F 0F 08 00 00 00 FF", 0, {movePtz("-80.0195,1,80,1,0,0,0")}},
        {"8x 01 06 02 19 00 00 00 00 00 00 00 00 00 FF", -25, {}},
        {"8x 01 06 02 00 19 00 00 00 00 00 00 00 00 FF", -25, {}},
        {"8x 01 06 03 10 00 01 02 00 00 0F 0C 00 00 FF", 0, {movePtz("90,2,-20,2,0,0,33")}},
        {"8x 01 06 03 19 00 01 02 00 00 0F 0C 00 00 FF", -25, {}},
        {"8x 01 06 04 FF", 0, {"GotoHome"}},
        {"8x 01 06 05 FF", 0, {"Auxiliary(reset)"}},
    });
    fake.rotated = true;
    EXPECT_EQ(run("81 01 06 03 10 00 01 02 00 00 0F 0C 00 00 FF"), 0);
    EXPECT_EQ(fake.calls, std::vector<std::string>{movePtz("-90,2,20,2,0,0,33")});
    EXPECT_EQ(run("81 01 06 02 10 00 01 02 00 00 0F 0C 00 00 FF"), 0);
    EXPECT_EQ(fake.calls, std::vector<std::string>{movePtz("90,1,-20,1,0,0,33")});
}

TEST_F(CmdParser, PanTiltLimits)
{
    check({
        {"8x 01 06 07 00 01 01 02 00 00 00 04 00 00 FF",
         0,
         {"set_int 3 LimitMaxPan=90", "set_int 3 LimitMaxTilt=20"}},
        {"8x 01 06 07 00 00 0E 0E 00 00 0F 0C 00 00 FF",
         0,
         {"set_int 3 LimitMinPan=-90", "set_int 3 LimitMinTilt=-20"}},
        {"8x 01 06 07 00 03 01 02 03 04 00 04 00 00 FF",
         0,
         {"set_int 3 LimitMaxPan=91", "set_int 3 LimitMaxTilt=20"}},
    });
    fake.failProperty(3, "LimitMaxPan", -12);
    EXPECT_EQ(run("81 01 06 07 00 01 01 02 00 00 00 04 00 00 FF"), -12);
    EXPECT_EQ(fake.calls, std::vector<std::string>{"set_int 3 LimitMaxPan=90"});
}

TEST_F(CmdParser, Tally)
{
    check({
        {"8x 01 7E 01 0A 00 02 FF", 0, {"set_string 5 TallyledUsage=on"}},
        {"8x 01 7E 01 0A 00 03 FF", 0, {"set_string 5 TallyledUsage=off"}},
        {"8x 01 7E 01 0A 00 04 FF", -25, {}},
    });
}

TEST_F(CmdParser, ActionErrorsReachTheCaller)
{
    fake.failPtz(-13);
    EXPECT_EQ(run("81 01 04 07 02 FF"), -13);
    EXPECT_EQ(run("81 01 06 04 FF"), -13);
    fake.failPtz(-12);
    EXPECT_EQ(run("81 01 04 08 02 FF"), -12);
    EXPECT_EQ(run("81 01 04 10 00 FF"), -12);
    fake.failPtz(0);
    fake.failProperty(5, "TallyledUsage", -13);
    EXPECT_EQ(run("81 01 7E 01 0A 00 02 FF"), -13);
}

} // namespace
