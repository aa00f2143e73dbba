#include <json-c/json.h>

#include <filesystem>
#include <string>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "quillon/config/settings/settings_file.h"
#include "quillon/config/settings/settings_files.h"
#include "quillon/config/settings/tracker_settings.h"
#include "quillon_settings/settings_test_fixture.h"

using namespace quillon;
using quillontest::SettingsTest;

namespace
{

const char* kDefaultSettingsFile =
    "{ \"maxObjectSpeed\": { \"lowSpeed\": 30, \"highSpeed\": 60, \"enabled\": false }, "
    "\"minObjectLifespan\": { \"time\": 1, \"enabled\": false }, "
    "\"minObjectSize\": { \"width\": 5, \"height\": 5, \"enabled\": true }, "
    "\"minObjectSizeDegrees\": { \"width\": 0.5, \"height\": 0.5, \"enabled\": false }, "
    "\"svgFrameColours\": { \"colourCombinations\": [ { \"id\": 1, \"tracked\": \"#ed1a3b\", "
    "\"default\": \"#8dc63f\" }, { \"id\": 2, \"tracked\": \"#ffc300\", \"default\": "
    "\"#3dc8ff\" } ], \"activeId\": 1, \"highlightObjects\": true }, "
    "\"trackingParams\": { \"timeoutToHome\": 5.0, \"zoomLimitHigh\": 8.0, \"zoomLimitLow\": "
    "1.0, \"maxProfileNumber\": 10, \"trackerType\": 0, \"returnToPreset\": -1 } }";

} // namespace

TEST_F(SettingsTest, MissingFileWritesDefaultsAndPublishesEveryRecord)
{
    SettingsFile<TrackerSettings> file("settings.conf");
    EXPECT_EQ(readConfig("settings.conf"), kDefaultSettingsFile);

    // Published in the tracker's order; svgFrameColours posts nothing.
    auto messages = bus->messages();
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_NE(dynamic_cast<TrackerSettingsMessage<min_object_size_t>*>(messages[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<TrackerSettingsMessage<MinObjectSizeDegrees>*>(messages[1].get()),
              nullptr);
    EXPECT_NE(dynamic_cast<TrackerSettingsMessage<max_object_speed_t>*>(messages[2].get()),
              nullptr);
    EXPECT_NE(dynamic_cast<TrackerSettingsMessage<min_object_lifespan_t>*>(messages[3].get()),
              nullptr);
    EXPECT_NE(dynamic_cast<TrackerSettingsMessage<TrackingParams>*>(messages[4].get()), nullptr);
}

TEST_F(SettingsTest, EmptyAndUnparsableFilesAreReplacedByDefaults)
{
    writeConfig("settings.conf", "");
    {
        SettingsFile<TrackerSettings> file("settings.conf");
    }
    EXPECT_EQ(readConfig("settings.conf"), kDefaultSettingsFile);

    writeConfig("settings.conf", "{\"minObjectSize\": {\"width\": 7");
    testing::internal::CaptureStderr();
    SettingsFile<TrackerSettings> file("settings.conf");
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Could not parse settings: {\"minObjectSize\": {\"width\": 7\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(file.settings().minObjectSize()->value().width, 5);
    EXPECT_EQ(readConfig("settings.conf"), kDefaultSettingsFile);
}

// A hand-edited file with text after its JSON value keeps its values and is
// not rewritten (for application.conf that keeps the daemon active).
TEST_F(SettingsTest, TextAfterTheJsonValueIsIgnored)
{
    const std::string text =
        "{ \"service\": { \"active\": true, \"version\": \"2.6.39+maint+1\" } }x\n";
    writeConfig("application.conf", text);
    testing::internal::CaptureStderr();
    SettingsFile<ApplicationSettings> file("application.conf");
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(file.settings().active());
    EXPECT_EQ(readConfig("application.conf"), text);
    EXPECT_NE(log.find("Ignoring text after the settings in application.conf\n"), std::string::npos)
        << log;
    auto published = bus->settings<application_settings_t>();
    ASSERT_EQ(published.size(), 1u);
    EXPECT_TRUE(published[0].active);
}

// A file that exists but cannot be read is logged and left alone; the
// defaults are published and used. (A link to itself: root meets no EACCES.)
TEST_F(SettingsTest, UnreadableFileIsLeftAlone)
{
    std::string path = root.file("etc/quillon/settings.conf");
    std::filesystem::create_symlink("settings.conf", path);
    testing::internal::CaptureStderr();
    SettingsFile<TrackerSettings> file("settings.conf");
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Could not read settings file " + path), std::string::npos) << log;
    EXPECT_TRUE(std::filesystem::is_symlink(path)) << "the file was replaced";
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    EXPECT_EQ(file.settings().minObjectSize()->value().width, 5);
    EXPECT_EQ(bus->messages().size(), 5u) << "the defaults are published";
}

TEST_F(SettingsTest, ValidFileIsLoadedAndNotRewritten)
{
    const std::string text = R"({"trackingParams": {"timeoutToHome": 12, "zoomLimitHigh": 15.5,
        "zoomLimitLow": 2.0, "maxProfileNumber": 20, "trackerType": 3, "returnToPreset": 4},
        "minObjectSize": {"width": 10, "height": 12, "enabled": false}})";
    writeConfig("settings.conf", text);
    SettingsFile<TrackerSettings> file("settings.conf");
    EXPECT_EQ(readConfig("settings.conf"), text);

    const TrackingParams& params = file.settings().trackingParams()->value();
    EXPECT_FLOAT_EQ(params.timeoutToHome, 12.0f);
    EXPECT_FLOAT_EQ(params.zoomLimitHigh, 15.5f);
    EXPECT_FLOAT_EQ(params.zoomLimitLow, 2.0f);
    EXPECT_EQ(params.maxProfileNumber, 20);
    EXPECT_EQ(params.trackerType, 3);
    EXPECT_EQ(params.returnToPreset, 4);
    EXPECT_EQ(file.settings().minObjectSize()->value().width, 10);
    EXPECT_FALSE(file.settings().minObjectSize()->value().enabled);
    // Only the records present in the file publish themselves.
    EXPECT_EQ(bus->messages().size(), 2u);
}

// A value out of range resets only its own record: the records after it keep
// what the file holds, and the repaired file is written back.
TEST_F(SettingsTest, OutOfRangeValueRepairsOnlyItsRecord)
{
    writeConfig("settings.conf", R"({
        "maxObjectSpeed": {"lowSpeed": 40, "highSpeed": 70, "enabled": true},
        "minObjectLifespan": {"time": 3, "enabled": true},
        "minObjectSize": {"width": 2, "height": 9},
        "minObjectSizeDegrees": {"width": 1.5, "height": 2.5, "enabled": true},
        "trackingParams": {"timeoutToHome": 9, "zoomLimitHigh": 12.0, "returnToPreset": 7}})");
    SettingsFile<TrackerSettings> file("settings.conf");
    auto& s = file.settings();
    EXPECT_EQ(s.maxObjectSpeed()->value().lowSpeed, 40);
    EXPECT_EQ(s.minObjectLifespan()->value().time, 3);
    EXPECT_EQ(s.minObjectSize()->value().width, 5); // whole record kept its defaults
    EXPECT_EQ(s.minObjectSize()->value().height, 5);
    EXPECT_FLOAT_EQ(s.minObjectSizeDegrees()->value().height, 2.5f);
    EXPECT_FLOAT_EQ(s.trackingParams()->value().timeoutToHome, 9.0f);
    EXPECT_EQ(s.trackingParams()->value().returnToPreset, 7);

    // Re-read what was written: the repair is persistent and complete.
    SettingsFile<TrackerSettings> again("settings.conf");
    EXPECT_EQ(readConfig("settings.conf").find("\"width\": 2"), std::string::npos);
    EXPECT_EQ(again.settings().maxObjectSpeed()->value().highSpeed, 70);
    EXPECT_FLOAT_EQ(again.settings().trackingParams()->value().zoomLimitHigh, 12.0f);
    EXPECT_EQ(again.settings().minObjectSize()->value().width, 5);
    // Every record was published by the repair.
    EXPECT_FALSE(bus->settings<min_object_size_t>().empty());
    EXPECT_FALSE(bus->settings<TrackingParams>().empty());
}

TEST_F(SettingsTest, FileWithoutKnownRecordsIsRewrittenWithDefaults)
{
    for (const char* text : {"{\"other\": 1}", "[1, 2]", "42"}) {
        writeConfig("settings.conf", text);
        SettingsFile<TrackerSettings> file("settings.conf");
        EXPECT_EQ(readConfig("settings.conf"), kDefaultSettingsFile) << text;
    }
}

TEST_F(SettingsTest, SavedValuesLoadAgainUnchanged)
{
    {
        SettingsFile<TrackerSettings> file("settings.conf");
        json_object* params = json_tokener_parse(
            R"({"trackingParams": {"timeoutToHome": 17, "zoomLimitHigh": 11.25,
                "zoomLimitLow": 1.5, "maxProfileNumber": 42, "trackerType": 5,
                "returnToPreset": 100},
                "minObjectSizeDegrees": {"width": 0.3, "height": 4.75, "enabled": true}})");
        EXPECT_EQ(file.settings().fromJson(params, kFromApi, nullptr), 0);
        json_object_put(params);
        ASSERT_TRUE(file.save());
    }
    std::string written = readConfig("settings.conf");
    SettingsFile<TrackerSettings> file("settings.conf");
    EXPECT_EQ(readConfig("settings.conf"), written); // loads cleanly: no repair
    const TrackingParams& params = file.settings().trackingParams()->value();
    EXPECT_FLOAT_EQ(params.timeoutToHome, 17.0f);
    EXPECT_FLOAT_EQ(params.zoomLimitHigh, 11.25f);
    EXPECT_FLOAT_EQ(params.zoomLimitLow, 1.5f);
    EXPECT_EQ(params.maxProfileNumber, 42);
    EXPECT_EQ(params.trackerType, 5);
    EXPECT_EQ(params.returnToPreset, 100);
    EXPECT_FLOAT_EQ(file.settings().minObjectSizeDegrees()->value().width, 0.3f);
    EXPECT_TRUE(file.settings().minObjectSizeDegrees()->value().enabled);
}

TEST_F(SettingsTest, ApplicationFileDefaultsAndRepair)
{
    {
        SettingsFile<ApplicationSettings> file("application.conf");
        EXPECT_FALSE(file.settings().active());
    }
    EXPECT_EQ(readConfig("application.conf"),
              "{ \"service\": { \"active\": false, \"version\": \"2.6.39+maint+1\" } }");
    auto published = bus->settings<application_settings_t>();
    ASSERT_EQ(published.size(), 1u);
    EXPECT_FALSE(published[0].active);

    writeConfig("application.conf", R"({"service": {"active": true}})");
    {
        SettingsFile<ApplicationSettings> file("application.conf");
        EXPECT_TRUE(file.settings().active());
    }
    EXPECT_EQ(readConfig("application.conf"), R"({"service": {"active": true}})");

    // "active" of the wrong type: 1005, defaults published and written.
    writeConfig("application.conf", R"({"service": {"active": "yes"}})");
    SettingsFile<ApplicationSettings> file("application.conf");
    EXPECT_FALSE(file.settings().active());
    EXPECT_NE(readConfig("application.conf").find("\"active\": false"), std::string::npos);
}

TEST_F(SettingsTest, ProductFileKeepsGainsAsDoubles)
{
    {
        SettingsFile<ProductSettings> file("product.conf");
    }
    EXPECT_EQ(
        readConfig("product.conf"),
        "{ \"panPid\": { \"kp\": 17.0, \"ki\": 3.0, \"kd\": 18.0, \"signalThreshold\": 1.0 }, "
        "\"tiltPid\": { \"kp\": 17.0, \"ki\": 3.0, \"kd\": 18.0, \"signalThreshold\": 1.0 }, "
        "\"vcSizeFilter\": { \"enabled\": true } }");
    // Product settings publish the overlay filter first, then pan and tilt.
    auto messages = bus->messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_NE(dynamic_cast<TrackerSettingsMessage<vc_size_filter_t>*>(messages[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<TrackerSettingsMessage<pan_pid_t>*>(messages[1].get()), nullptr);
    EXPECT_NE(dynamic_cast<TrackerSettingsMessage<tilt_pid_t>*>(messages[2].get()), nullptr);

    writeConfig("product.conf", R"({"panPid": {"kp": 1.5, "ki": 0.25, "kd": 2.0,
        "signalThreshold": 0.5}, "tiltPid": {"kp": 3, "ki": 1.0, "kd": 1.0,
        "signalThreshold": 1.0}})");
    SettingsFile<ProductSettings> file("product.conf");
    EXPECT_DOUBLE_EQ(file.settings().panPid()->value().kp, 1.5);
    // An integer gain is not a double: tilt refused, kept its defaults.
    EXPECT_DOUBLE_EQ(file.settings().tiltPid()->value().kp, 17.0);
    EXPECT_NE(readConfig("product.conf").find("\"kp\": 1.5"), std::string::npos);
}

// The recorder's sync is what makes "nothing was posted" checks able to fail:
// a recorder the bus does not deliver to fails the test.
TEST(BusRecorder, SyncFailsWhenNothingArrives)
{
    EXPECT_NONFATAL_FAILURE(
        {
            auto unsubscribed = std::make_shared<quillontest::BusRecorder>();
            EXPECT_FALSE(unsubscribed->sync(std::chrono::milliseconds(200)));
        },
        "the bus did not deliver to the recorder");
}
