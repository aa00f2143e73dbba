#include <json-c/json.h>

#include <string>

#include <gtest/gtest.h>

#include "quillon/config/settings/application_settings.h"
#include "quillon/config/settings/json_values.h"
#include "quillon/config/settings/product_settings.h"
#include "quillon/config/settings/tracker_settings.h"
#include "quillon_settings/settings_test_fixture.h"

using namespace quillon;
using quillontest::SettingsTest;

namespace
{

json::JsonPtr parse(const std::string& text)
{
    json::JsonPtr value = json::parse(text);
    EXPECT_NE(value, nullptr) << text;
    return value;
}

int apply(GeneralSettings& record, const std::string& text, int source = kFromApi)
{
    return record.fromJson(parse(text).get(), source, nullptr);
}

std::string toText(GeneralSettings& record, int target)
{
    json::JsonPtr object(json_object_new_object());
    record.toJson(object.get(), target);
    json_c_set_serialization_double_format("%.6g", JSON_C_OPTION_THREAD);
    return json_object_to_json_string_ext(object.get(), JSON_C_TO_STRING_PLAIN);
}

using RecordsTest = SettingsTest;

} // namespace

TEST_F(RecordsTest, IntRangesAndTheirCodes)
{
    struct Case {
        const char* json;
        int code;
    };
    const Case cases[] = {
        {R"({"maxObjectSpeed": {"lowSpeed": 0, "highSpeed": 999}})", 0},
        {R"({"maxObjectSpeed": {"lowSpeed": 100}})", 1501},
        {R"({"maxObjectSpeed": {"highSpeed": 1000}})", 1502},
        {R"({"maxObjectSpeed": {"lowSpeed": -1, "highSpeed": -1}})", 1502}, // last failing key
        {R"({"minObjectLifespan": {"time": 5}})", 0},
        {R"({"minObjectLifespan": {"time": 0}})", 1401},
        {R"({"minObjectLifespan": {"time": 6}})", 1401},
        {R"({"minObjectLifespan": {"time": 4294967299}})", 1401}, // no wrap-around into range
        {R"({"minObjectSize": {"width": 3, "height": 25}})", 0},
        {R"({"minObjectSize": {"width": 26}})", 1301},
        {R"({"minObjectSize": {"height": 2}})", 1302},
        {R"({"minObjectSizeDegrees": {"width": 0.25, "height": 5.0}})", 0},
        {R"({"minObjectSizeDegrees": {"width": 0.2}})", 1701},
        {R"({"minObjectSizeDegrees": {"height": 5.01}})", 1702},
        {R"({"minObjectSizeDegrees": {"height": NaN}})", 1702},
        {R"({"trackingParams": {"timeoutToHome": 31}})", 1801},
        {R"({"trackingParams": {"zoomLimitHigh": 20.5}})", 1802},
        {R"({"trackingParams": {"zoomLimitLow": 0.5}})", 1802},
        {R"({"trackingParams": {"maxProfileNumber": 4}})", 1803},
        {R"({"trackingParams": {"returnToPreset": -2}})", 1804},
        {R"({"trackingParams": {"returnToPreset": 101, "maxProfileNumber": 101}})", 1803},
        {R"({"minObjectSize": 5})", 1004},
        {R"({"minObjectSize": null})", 1004},
        {R"({"nothing": {}})", 1005},
    };
    for (const Case& c : cases) {
        TrackerSettings settings;
        EXPECT_EQ(apply(settings, c.json), c.code) << c.json;
    }
}

TEST_F(RecordsTest, FailedRecordChangesNothingAndPublishesNothing)
{
    TrackerSettings settings;
    EXPECT_EQ(apply(settings, R"({"maxObjectSpeed": {"lowSpeed": 50, "highSpeed": 5000,
        "enabled": true}})"),
              1502);
    EXPECT_EQ(settings.maxObjectSpeed()->value().lowSpeed, 30);
    EXPECT_FALSE(settings.maxObjectSpeed()->value().enabled);
    EXPECT_TRUE(bus->messages().empty());

    // Success publishes even when nothing changed.
    EXPECT_EQ(apply(settings, R"({"maxObjectSpeed": {}})"), 0);
    EXPECT_EQ(bus->settings<max_object_speed_t>().size(), 1u);
}

TEST_F(RecordsTest, WrongTypesCountAsAbsent)
{
    TrackerSettings settings;
    EXPECT_EQ(apply(settings, R"({"minObjectSizeDegrees": {"width": 1, "height": 2.0,
        "enabled": "true"}})"),
              0);
    EXPECT_FLOAT_EQ(settings.minObjectSizeDegrees()->value().width, 0.5f); // int ignored
    EXPECT_FLOAT_EQ(settings.minObjectSizeDegrees()->value().height, 2.0f);
    EXPECT_FALSE(settings.minObjectSizeDegrees()->value().enabled);

    EXPECT_EQ(apply(settings, R"({"minObjectSize": {"width": 7.0, "height": "9"}})"), 0);
    EXPECT_EQ(settings.minObjectSize()->value().width, 5);
    EXPECT_EQ(settings.minObjectSize()->value().height, 5);
}

TEST_F(RecordsTest, ZoomLimitsAndLegacyKey)
{
    TrackerSettings settings;
    auto params = [&] { return settings.trackingParams()->value(); };

    EXPECT_EQ(apply(settings, R"({"trackingParams": {"zoomLimit": 12}})"), 0);
    EXPECT_FLOAT_EQ(params().zoomLimitHigh, 12.0f);

    EXPECT_EQ(apply(settings, R"({"trackingParams": {"zoomLimitHigh": 14.5, "zoomLimit": 3}})"), 0);
    EXPECT_FLOAT_EQ(params().zoomLimitHigh, 14.5f); // the new key wins

    EXPECT_EQ(apply(settings, R"({"trackingParams": {"zoomLimit": 21}})"), 1802);
    EXPECT_FLOAT_EQ(params().zoomLimitHigh, 14.5f);

    // Neither key: back to 8; "zoomLimitLow" absent: back to 1.
    EXPECT_EQ(apply(settings, R"({"trackingParams": {"zoomLimitLow": 3.0}})"), 0);
    EXPECT_FLOAT_EQ(params().zoomLimitLow, 3.0f);
    EXPECT_EQ(apply(settings, R"({"trackingParams": {"timeoutToHome": 7}})"), 0);
    EXPECT_FLOAT_EQ(params().zoomLimitHigh, 8.0f);
    EXPECT_FLOAT_EQ(params().zoomLimitLow, 1.0f);
    EXPECT_FLOAT_EQ(params().timeoutToHome, 7.0f);
}

TEST_F(RecordsTest, TrackingParamsKeepOrIgnore)
{
    TrackerSettings settings;
    EXPECT_EQ(apply(settings, R"({"trackingParams": {"trackerType": 4, "returnToPreset": 3,
        "maxProfileNumber": 50, "timeoutToHome": 20}})"),
              0);
    // Absent keys keep their values; a negative tracker type is ignored.
    EXPECT_EQ(apply(settings, R"({"trackingParams": {"trackerType": -1}})"), 0);
    const TrackingParams& p = settings.trackingParams()->value();
    EXPECT_EQ(p.trackerType, 4);
    EXPECT_EQ(p.returnToPreset, 3);
    EXPECT_EQ(p.maxProfileNumber, 50);
    EXPECT_FLOAT_EQ(p.timeoutToHome, 20.0f);
    // A fractional time to home is not an int: kept.
    EXPECT_EQ(apply(settings, R"({"trackingParams": {"timeoutToHome": 2.5}})"), 0);
    EXPECT_FLOAT_EQ(settings.trackingParams()->value().timeoutToHome, 20.0f);

    testing::internal::CaptureStderr();
    toText(settings, kToApi);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Timeout to home: 20.0, Zoom limit: 1.00-8.00, Max profiles: 50 Tracker "
                       "type 4\n"),
              std::string::npos)
        << log;
}

TEST_F(RecordsTest, ColourCombinationsFromFilesOnly)
{
    TrackerSettings settings;
    auto colours = settings.svgFrameColours();
    const char* change = R"({"svgFrameColours": {"colourCombinations": [{"id": 7, "tracked": "#000",
        "default": "#fff"}], "activeId": 2}})";
    EXPECT_EQ(apply(settings, change, kFromApi), 0);
    ASSERT_EQ(colours->combinations().size(), 2u);
    EXPECT_EQ(colours->activeId(), 2);

    // An unknown id selects the first combination and reports 1201.
    EXPECT_EQ(apply(settings, R"({"svgFrameColours": {"activeId": 9}})"), 1201);
    EXPECT_EQ(colours->activeId(), 1);

    // From a file the list is replaced; malformed elements are skipped.
    EXPECT_EQ(apply(settings, R"({"svgFrameColours": {"colourCombinations": [5,
        {"id": 4, "tracked": "#111"}, {"id": 3, "tracked": "#222", "default": "#333"}],
        "activeId": 3, "highlightObjects": false}})",
                    kFromFile),
              0);
    ASSERT_EQ(colours->combinations().size(), 1u);
    EXPECT_EQ(colours->combinations()[0].defaultColour, "#333");
    EXPECT_EQ(colours->activeId(), 3);
    EXPECT_FALSE(colours->highlightObjects());

    // Highlighting with no combinations is refused (1202); values stored as read.
    EXPECT_EQ(apply(settings, R"({"svgFrameColours": {"colourCombinations": [],
        "highlightObjects": true}})",
                    kFromFile),
              1202);
    EXPECT_TRUE(colours->combinations().empty());
    EXPECT_FALSE(colours->highlightObjects());
    EXPECT_EQ(colours->activeId(), 3);
    EXPECT_TRUE(bus->messages().empty()); // the record never posts

    // A new list that drops the active combination, or an empty list while
    // highlighting is on, is repaired even when those keys are absent.
    EXPECT_EQ(apply(settings, R"({"svgFrameColours": {"colourCombinations": [
        {"id": 5, "tracked": "#444", "default": "#555"}], "activeId": 5,
        "highlightObjects": true}})",
                    kFromFile),
              0);
    EXPECT_EQ(apply(settings, R"({"svgFrameColours": {"colourCombinations": [
        {"id": 6, "tracked": "#666", "default": "#777"}]}})",
                    kFromFile),
              1201);
    EXPECT_EQ(colours->activeId(), 6);
    EXPECT_EQ(apply(settings, R"({"svgFrameColours": {"colourCombinations": []}})", kFromFile),
              1202);
    EXPECT_FALSE(colours->highlightObjects());
}

TEST_F(RecordsTest, ControllerGainsAllOrNothing)
{
    ProductSettings product;
    const pid_params_t defaults;
    const char* refused[] = {
        R"({"panPid": {"kp": 1.0, "ki": 1.0, "kd": -0.5, "signalThreshold": 1.0}})",
        R"({"panPid": {"kp": 1.0, "ki": 1.0, "kd": 2.0}})",
        R"({"panPid": {"kp": 1, "ki": 1.0, "kd": 2.0, "signalThreshold": 1.0}})",
        R"({"panPid": {"kp": NaN, "ki": 1.0, "kd": 2.0, "signalThreshold": 1.0}})",
        R"({"panPid": {"kp": Infinity, "ki": 1.0, "kd": 2.0, "signalThreshold": 1.0}})",
        R"({"panPid": []})",
    };
    for (const char* text : refused) {
        EXPECT_EQ(apply(product, text), 1601) << text;
        EXPECT_DOUBLE_EQ(product.panPid()->value().kp, defaults.kp);
        EXPECT_DOUBLE_EQ(product.panPid()->value().kd, defaults.kd);
    }
    EXPECT_TRUE(bus->messages().empty());

    EXPECT_EQ(apply(product, R"({"tiltPid": {"kp": 0.0, "ki": 0.5, "kd": 2.5,
        "signalThreshold": 0.1}})"),
              0);
    auto published = bus->settings<tilt_pid_t>();
    ASSERT_EQ(published.size(), 1u);
    EXPECT_DOUBLE_EQ(published[0].kd, 2.5);
    EXPECT_DOUBLE_EQ(published[0].signalThreshold, 0.1);

    // Gains go into files only.
    EXPECT_EQ(toText(product, kToApi),
              R"({"panPid":{},"tiltPid":{},"vcSizeFilter":{"enabled":true}})");
    EXPECT_NE(toText(product, kToFile).find(R"("tiltPid":{"kp":0.0,"ki":0.5,"kd":2.5,)"),
              std::string::npos);
}

TEST_F(RecordsTest, ApplicationNeedsServiceAndActive)
{
    ApplicationSettings app;
    EXPECT_EQ(apply(app, R"({"service": {}})"), 1005);
    EXPECT_EQ(apply(app, R"({"service": true})"), 1005);
    EXPECT_EQ(apply(app, R"({"active": true})"), 1005);
    EXPECT_TRUE(bus->messages().empty());
    EXPECT_EQ(apply(app, R"({"service": {"active": true, "version": "x"}})"), 0);
    EXPECT_TRUE(app.active());
    EXPECT_EQ(toText(app, kToApi), R"({"service":{"active":true,"version":"2.6.39+maint+1"}})");
    ASSERT_EQ(bus->settings<application_settings_t>().size(), 1u);
}
