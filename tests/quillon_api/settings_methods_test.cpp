#include <sys/stat.h>

#include <gtest/gtest.h>

#include "quillon/config/settings/runtime_commands.h"
#include "quillon/config/settings/settings_files.h"
#include "quillon_api/api_test_support.h"

using namespace quillon;
using quillontest::ApiTest;

namespace
{
// Modification time in nanoseconds; unchanged means the file was not written.
long long mtimeOf(const std::string& path)
{
    struct stat st {
    };
    if (stat(path.c_str(), &st) != 0)
        return -1;
    return st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
}

} // namespace

using SettingsMethodsTest = ApiTest;

TEST_F(SettingsMethodsTest, ApplicationSettingsRoundTrip)
{
    std::string got = call("getApplicationSettings", "{}", 1);
    EXPECT_EQ(dataOf(got), R"({"service":{"active":false,"version":"2.6.39+maint+1"}})");
    bus->clear();

    EXPECT_EQ(codeOf(call("setApplicationSettings", R"({"service": {"active": true}})", 1)), 0);
    EXPECT_NE(readConfig("application.conf").find("\"active\": true"), std::string::npos);
    auto published = bus->settings<application_settings_t>();
    ASSERT_EQ(published.size(), 1u);
    EXPECT_TRUE(published[0].active);
    EXPECT_EQ(dataOf(call("getApplicationSettings", "{}", 1)),
              R"({"service":{"active":true,"version":"2.6.39+maint+1"}})");

    // Refusals write nothing and change nothing.
    long long before = mtimeOf(configPath("application.conf"));
    bus->clear();
    EXPECT_EQ(codeOf(call("setApplicationSettings", R"({"service": {"active": "no"}})", 1)), 1005);
    EXPECT_EQ(codeOf(call("setApplicationSettings", R"({"active": false})", 1)), 1005);
    EXPECT_EQ(mtimeOf(configPath("application.conf")), before);
    EXPECT_TRUE(applicationSettingsFile().settings().active());
    EXPECT_TRUE(bus->messages().empty());

    EXPECT_EQ(codeOf(call("setApplicationSettings", R"({"service": {"active": false}})", 1)), 0);
    EXPECT_NE(readConfig("application.conf").find("\"active\": false"), std::string::npos);
}

TEST_F(SettingsMethodsTest, GetAutotrackingSettingsAnswersTheSixRecordsAndTheZones)
{
    auto value = reply(call("getAutotrackingSettings", "{}", 0));
    json_object* data = json::objectMember(value.get(), "data");
    ASSERT_NE(data, nullptr);
    std::vector<std::string> keys;
    json_object_object_foreach(data, key, member)
    {
        (void)member;
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"maxObjectSpeed", "minObjectLifespan",
                                              "minObjectSize", "minObjectSizeDegrees",
                                              "svgFrameColours", "trackingParams",
                                              "profiles"}));
}

TEST_F(SettingsMethodsTest, SetAutotrackingSettingsSavesAndPublishes)
{
    EXPECT_EQ(codeOf(call("setAutotrackingSettings",
                          R"({"minObjectLifespan": {"time": 4, "enabled": true},
                              "trackingParams": {"timeoutToHome": 12, "zoomLimitHigh": 11.25,
                                                 "zoomLimitLow": 1.25, "returnToPreset": 3},
                              "unknown": 1})",
                          1)),
              0);
    auto lifespans = bus->settings<min_object_lifespan_t>();
    ASSERT_EQ(lifespans.size(), 1u);
    EXPECT_EQ(lifespans[0].time, 4);
    auto params = bus->settings<TrackingParams>();
    ASSERT_EQ(params.size(), 1u);
    EXPECT_EQ(params[0].returnToPreset, 3);

    std::string file = readConfig("settings.conf");
    EXPECT_NE(file.find(R"("minObjectLifespan": { "time": 4, "enabled": true })"),
              std::string::npos)
        << file;
    EXPECT_NE(file.find(R"("timeoutToHome": 12.0, "zoomLimitHigh": 11.25, "zoomLimitLow": 1.25)"),
              std::string::npos)
        << file;

    // Replies carry doubles with three significant digits (the file six).
    std::string data = dataOf(call("getAutotrackingSettings", "{}", 0));
    EXPECT_NE(data.find(R"("zoomLimitHigh":11.2,"zoomLimitLow":1.25)"), std::string::npos) << data;
    EXPECT_NE(data.find(R"("minObjectLifespan":{"time":4,"enabled":true})"), std::string::npos);
}

TEST_F(SettingsMethodsTest, RefusedChangeWritesNothingAndChangesNothing)
{
    ASSERT_EQ(codeOf(call("setAutotrackingSettings", R"({"minObjectSize": {"width": 6}})", 1)), 0);
    std::string before = readConfig("settings.conf");
    long long mtime = mtimeOf(configPath("settings.conf"));
    bus->clear();

    EXPECT_EQ(codeOf(call("setAutotrackingSettings", R"({"foo": {}, "bar": 1})", 1)), 1005);
    EXPECT_EQ(codeOf(call("setAutotrackingSettings", R"({"minObjectLifespan": {"time": 9}})", 1)),
              1401);
    // A valid record next to a refused one is not applied either.
    EXPECT_EQ(codeOf(call("setAutotrackingSettings",
                          R"({"minObjectSize": {"width": 20}, "trackingParams":
                              {"maxProfileNumber": 1}})",
                          1)),
              1803);
    EXPECT_EQ(codeOf(call("setAutotrackingSettings", R"({"minObjectSize": []})", 1)), 1004);

    EXPECT_EQ(trackerSettingsFile().settings().minObjectSize()->value().width, 6);
    EXPECT_EQ(readConfig("settings.conf"), before);
    EXPECT_EQ(mtimeOf(configPath("settings.conf")), mtime);
    EXPECT_TRUE(bus->messages().empty());
}

TEST_F(SettingsMethodsTest, ColourCombinationsCannotBeReplacedThroughTheApi)
{
    EXPECT_EQ(codeOf(call("setAutotrackingSettings",
                          R"({"svgFrameColours": {"colourCombinations": [], "activeId": 2,
                              "highlightObjects": false}})",
                          1)),
              0);
    auto colours = trackerSettingsFile().settings().svgFrameColours();
    EXPECT_EQ(colours->combinations().size(), 2u);
    EXPECT_EQ(colours->activeId(), 2);
    EXPECT_FALSE(colours->highlightObjects());

    EXPECT_EQ(codeOf(call("setAutotrackingSettings", R"({"svgFrameColours": {"activeId": 5}})", 1)),
              1201);
    EXPECT_EQ(colours->activeId(), 2); // a refused request changes nothing
}

TEST_F(SettingsMethodsTest, ProductConfigNeedsAdminAndSavesGains)
{
    const char* gains =
        R"({"panPid": {"kp": 12.5, "ki": 2.0, "kd": 10.0, "signalThreshold": 0.75}})";
    EXPECT_EQ(codeOf(call("setProductConfig", gains, 1)), 1003);
    EXPECT_EQ(codeOf(call("setProductConfig", gains, 2)), 0);
    auto pan = bus->settings<pan_pid_t>();
    ASSERT_EQ(pan.size(), 1u);
    EXPECT_DOUBLE_EQ(pan[0].kp, 12.5);
    EXPECT_NE(
        readConfig("product.conf")
            .find(R"("panPid": { "kp": 12.5, "ki": 2.0, "kd": 10.0, "signalThreshold": 0.75 })"),
        std::string::npos);

    std::string before = readConfig("product.conf");
    EXPECT_EQ(codeOf(call("setAutotrackingPid",
                          R"({"vcSizeFilter": {"enabled": false},
                              "tiltPid": {"kp": 1.0, "ki": 1.0, "kd": -2.0,
                                          "signalThreshold": 1.0}})",
                          2)),
              1601);
    EXPECT_EQ(readConfig("product.conf"), before);
    EXPECT_TRUE(productSettingsFile().settings().vcSizeFilter()->value().enabled);

    EXPECT_EQ(codeOf(call("setAutotrackingPid", R"({"vcSizeFilter": {"enabled": false}})", 2)), 0);
    EXPECT_NE(readConfig("product.conf").find(R"("vcSizeFilter": { "enabled": false })"),
              std::string::npos);
    EXPECT_EQ(codeOf(call("setAutotrackingPid", R"({"kp": 1.0})", 2)), 1005);
}
