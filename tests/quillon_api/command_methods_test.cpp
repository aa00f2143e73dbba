#include <gtest/gtest.h>

#include "quillon/api/methods/api_state.h"
#include "quillon/config/geometry/picture_format.h"
#include "quillon/config/settings/runtime_commands.h"
#include "quillon_api/api_test_support.h"

using namespace quillon;
using quillontest::ApiTest;

using CommandMethodsTest = ApiTest;

TEST_F(CommandMethodsTest, AutotrackingTarget)
{
    EXPECT_EQ(codeOf(call("setAutotrackingTarget", "{}", 1)), 1101);
    EXPECT_EQ(codeOf(call("setAutotrackingTarget", R"({"targetId": "7"})", 1)), 1101);
    EXPECT_TRUE(bus->messages().empty());

    EXPECT_EQ(codeOf(call("setAutotrackingTarget", R"({"targetId": 42})", 1)), 0);
    auto posted = bus->ofClass<SetTrackingObjMessage>();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].targetId, 42);
    EXPECT_EQ(dataOf(call("getAutotrackingTarget", "{}", 1)), R"({"targetId":42})");
}

TEST_F(CommandMethodsTest, AutotrackingAndEventState)
{
    EXPECT_EQ(codeOf(call("setAutotrackingState", R"({"enabled": false})", 1)), 0);
    EXPECT_EQ(dataOf(call("getAutotrackingState", "{}", 1)), R"({"enabled":false})");
    EXPECT_EQ(codeOf(call("setEventState", R"({"enabled": true})", 1)), 0);
    EXPECT_EQ(dataOf(call("getEventState", "{}", 1)), R"({"enabled":true})");
    auto autoStates = bus->settings<auto_tracking_state_t>();
    ASSERT_EQ(autoStates.size(), 1u);
    EXPECT_FALSE(autoStates[0].enabled);
    auto eventStates = bus->settings<tracking_event_state_t>();
    ASSERT_EQ(eventStates.size(), 1u);
    EXPECT_TRUE(eventStates[0].enabled);

    // Without a bool "enabled" nothing is posted or stored.
    bus->clear();
    EXPECT_EQ(codeOf(call("setAutotrackingState", R"({"enabled": 1})", 1)), 0);
    EXPECT_EQ(codeOf(call("setEventState", "{}", 1)), 0);
    EXPECT_TRUE(bus->messages().empty());
    EXPECT_FALSE(apiState().autoTrackingEnabled);
    EXPECT_TRUE(apiState().eventStateEnabled);
    EXPECT_EQ(codeOf(call("setAutotrackingState", R"({"enabled": true})", 1)), 0);
}

TEST_F(CommandMethodsTest, ViewportConfig)
{
    setPictureFormat(PictureFormat{});
    EXPECT_EQ(dataOf(call("getViewportConfig", "{}", 0)),
              R"({"rotation":-1,"resolution":{"width":1920,"height":1080}})");
    EXPECT_EQ(codeOf(call("setViewportConfig", R"({"resolution": {"width": 1, "height": 1}})", 0)),
              1101);

    EXPECT_EQ(codeOf(call("setViewportConfig",
                          R"({"rotation": 0, "resolution": {"width": 1280, "height": 720}})", 0)),
              0);
    // An invalid resolution posts 0 x 0 and keeps the stored size.
    EXPECT_EQ(codeOf(call("setViewportConfig",
                          R"({"rotation": 180, "resolution": {"width": 0, "height": 720}})", 0)),
              0);
    auto posted = bus->settings<viewport_configuration_t>();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].width, 1280);
    EXPECT_EQ(posted[0].height, 720);
    EXPECT_EQ(posted[1].rotation, 180);
    EXPECT_EQ(posted[1].width, 0);
    EXPECT_EQ(posted[1].height, 0);
    EXPECT_EQ(pictureFormat(), (PictureFormat{180, 1280, 720}));
    EXPECT_EQ(dataOf(call("getViewportConfig", "{}", 0)),
              R"({"rotation":180,"resolution":{"width":1280,"height":720}})");

    // A stored size below 1 is left out of the reply.
    setPictureFormat(PictureFormat{0, 0, 720});
    EXPECT_EQ(dataOf(call("getViewportConfig", "{}", 0)), R"({"rotation":0})");
    setPictureFormat(PictureFormat{});
}

TEST_F(CommandMethodsTest, TempZone)
{
    EXPECT_EQ(codeOf(call("setTempZone", "{}", 1)), 0);
    auto zones = bus->settings<temp_trigger_settings_t>();
    ASSERT_EQ(zones.size(), 1u);
    EXPECT_TRUE(zones[0].fullscreen);
    EXPECT_EQ(zones[0].timeout, 30);
    EXPECT_EQ(zones[0].gotoPreset, -1);
    EXPECT_FALSE(zones[0].gotoHomeAfter);
    EXPECT_EQ(zones[0].preTriggerTime, 500);

    bus->clear();
    EXPECT_EQ(codeOf(call("setTempZone",
                          R"({"zoneType": "fullscreen", "timeout": 120, "gotoPresetFirst": 4,
                              "gotoHomeAfter": true})",
                          1)),
              0);
    zones = bus->settings<temp_trigger_settings_t>();
    ASSERT_EQ(zones.size(), 1u);
    EXPECT_EQ(zones[0].timeout, 120);
    EXPECT_EQ(zones[0].gotoPreset, 4);
    EXPECT_TRUE(zones[0].gotoHomeAfter);

    bus->clear();
    testing::internal::CaptureStderr();
    EXPECT_EQ(codeOf(call("setTempZone", R"({"timeout": 200})", 1)), 1006);
    EXPECT_EQ(codeOf(call("setTempZone", R"({"timeout": 4})", 1)), 1006);
    EXPECT_EQ(codeOf(call("setTempZone", R"({"zoneType": "polygon", "timeout": 10})", 1)), 1006);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Warning temp zone timeout 200 is not allowed\n"), std::string::npos);
    EXPECT_NE(log.find("Warning temp zone type 'polygon' unknown\n"), std::string::npos);
    EXPECT_TRUE(bus->messages().empty());
}

TEST_F(CommandMethodsTest, RequestsAreLogged)
{
    testing::internal::CaptureStderr();
    api().process(R"({"method": "getSupportedVersions", "params": {}})", 2);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find(R"(CGI-in:2:[{"method": "getSupportedVersions", "params": {}}])"),
              std::string::npos)
        << log;
    EXPECT_NE(
        log.find(
            R"(CGI-out:[{ "method": "getSupportedVersions", "data": { "apiVersions": [ "1.0" ] } }])"),
        std::string::npos)
        << log;
}
