// The streamObjects text, byte for byte.
#include <json-c/json.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "quillon/events/confirmation/status_text.h"
#include "quillon/tracking/tracker/analyzed_video_message.h"

using namespace quillon;

namespace
{

// An object with the device box x1..x2, y1..y2 (y up).
std::shared_ptr<TrackingObject> object(int id, int source, int flags, bool confident, bool moving,
                                       float x1, float y1, float x2, float y2,
                                       std::string type = "")
{
    auto o = std::make_shared<TrackingObject>();
    o->id = id;
    o->source = source;
    o->flags = flags;
    o->confident = confident;
    o->moving = moving;
    o->shape = Polygon::box(x1, x2, y1, y2);
    o->typeName = std::move(type);
    return o;
}

AnalyzedVideoMessage scene(std::vector<std::shared_ptr<TrackingObject>> objects = {},
                           std::vector<VisualZone> zones = {})
{
    AnalyzedVideoMessage m;
    m.objects = std::move(objects);
    m.zones = std::move(zones);
    m.trackerEnabled = true;
    m.zoomMag = 2.5f;
    return m;
}

// An object whose box is given as is (a feed may hand over anything).
class GivenBox : public TrackingObject
{
public:
    explicit GivenBox(Box b) : box(b) {}
    Box getBox() const override { return box; }
    Box box;
};

std::shared_ptr<TrackingObject> givenBox(int id, int flags, Box box)
{
    auto o = std::make_shared<GivenBox>(box);
    o->id = id;
    o->flags = flags;
    o->confident = true;
    return o;
}

VisualZone zone(int id, bool enabled, std::vector<Point> points)
{
    return {id, 0, enabled, Polygon(std::move(points))};
}

// Tracked and confident (detection feed), unconfident (scene feed), and
// confident but missing from the latest report (fused).
std::vector<std::shared_ptr<TrackingObject>> threeObjects()
{
    return {object(7, kSourceDetection, kFlagReported | kFlagTracked, true, true, -0.5f, -0.5f,
                   0.0f, 0.5f, "person"),
            object(8, kSourceScene, kFlagReported, false, false, 0.0f, 0.0f, 0.5f, 0.5f, "car"),
            object(9, kSourceFused, 0, true, false, 0.5f, -1.0f, 1.0f, -0.5f)};
}

} // namespace

TEST(StatusText, GoldenTexts)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        AnalyzedVideoMessage message;
        bool debugView;
        std::string text;
    };
    Case cases[] = {
        {"nothing in view", scene(), false, R"({"trackerEnabled":true,"zoomMag":2.5})"},
        {"result, moving, whole zoom",
         [] {
             auto m = scene();
             m.latestResult = -3;
             m.moving = true;
             m.trackerEnabled = false;
             m.zoomMag = 1.0f;
             return m;
         }(),
         false, R"({"latestResult":-3,"trackerEnabled":false,"isMoving":true,"zoomMag":1.0})"},
        {"debug view off: confident or tracked objects only",
         scene(threeObjects(), {zone(1, true, {{0.1f, 0.2f}, {0.3f, 0.2f}, {0.3f, 0.4f}}),
                                zone(4, false, {{0.123456f, 0.5f}, {1, 1}, {0, 1}})}),
         false,
         R"({"objects":[{"id":7,"x":0.25,"y":0.25,"width":0.25,"height":0.5,"tracking":true},)"
         R"({"id":9,"active":false,"x":0.75,"y":0.75,"width":0.25,"height":0.25}],)"
         R"("zones":[{"profileId":1,"zoneType":0,"enabled":true,"polygon":[0.1,0.2,0.3,0.2,0.3,0.4]},)"
         R"({"profileId":4,"zoneType":0,"enabled":false,"polygon":[0.1235,0.5,1.0,1.0,0.0,1.0]}],)"
         R"("trackerEnabled":true,"trackedId":7,"zoomMag":2.5})"},
        {"debug view: every object, colours, type names", scene(threeObjects()), true,
         R"({"objects":[{"id":7,"color":"#0000FF","x":0.25,"y":0.25,"width":0.25,"height":0.5,)"
         R"("tracking":true,"text":"person"},)"
         R"({"id":8,"color":"#0000CC","x":0.5,"y":0.25,"width":0.25,"height":0.25,"text":"car"},)"
         R"({"id":9,"active":false,"color":"#BB0000","x":0.75,"y":0.75,"width":0.25,"height":0.25}],)"
         R"("trackerEnabled":true,"trackedId":7,"zoomMag":2.5})"},
        {"rotation 180 mirrors both ways",
         [] {
             auto m = scene({object(7, kSourceDetection, kFlagReported | kFlagTracked, true, true,
                                    -0.5f, -0.5f, 0.0f, 0.5f)});
             m.rotation = 180;
             return m;
         }(),
         false,
         R"({"objects":[{"id":7,"x":0.5,"y":0.25,"width":0.25,"height":0.5,"tracking":true}],)"
         R"("trackerEnabled":true,"trackedId":7,"zoomMag":2.5})"},
        {"other rotation: corner at 0",
         [] {
             auto m = scene({object(-1, kSourceNone, kFlagReported, true, false, -0.5f, -0.5f, 0.0f,
                                    0.5f, std::string(99, 'a'))});
             m.rotation = 90;
             return m;
         }(),
         true,
         (R"({"objects":[{"x":0.0,"y":0.0,"width":0.25,"height":0.5,"text":")" +
          std::string(99, 'a') + R"("}],"trackerEnabled":true,"zoomMag":2.5})")},
        {"type name of 100 characters",
         scene({object(3, kSourceDetection, kFlagReported, false, true, 0, 0, 0.5f, 0.5f,
                       std::string(100, 'b'))}),
         true,
         R"({"objects":[{"id":3,"color":"#FFFF00","x":0.5,"y":0.25,"width":0.25,"height":0.25}],)"
         R"("trackerEnabled":true,"zoomMag":2.5})"},
        {"not finite: object and zone left out, zoom 0",
         [&] {
             auto m =
                 scene({givenBox(1, kFlagReported | kFlagTracked, {nan, 0, 0.5f, 0.5f}),
                        givenBox(4, kFlagReported, {0, 0, 0.5f, -inf}),
                        object(2, kSourceDetection, kFlagReported, true, false, 0, 0, inf, 0.5f),
                        object(3, kSourceDetection, kFlagReported, true, false, 0, 0, 0.5f, 0.5f)},
                       {zone(1, true, {{0, 0}, {nan, 1}, {1, 1}}),
                        zone(2, true, {{0, 0}, {1, 0}, {1, 1}})});
             m.zoomMag = inf;
             return m;
         }(),
         false,
         R"({"objects":[{"id":3,"x":0.5,"y":0.25,"width":0.25,"height":0.25}],)"
         R"("zones":[{"profileId":2,"zoneType":0,"enabled":true,"polygon":[0.0,0.0,1.0,0.0,1.0,1.0]}],)"
         R"("trackerEnabled":true,"zoomMag":0.0})"},
        {"zoom NaN",
         [&] {
             auto m = scene();
             m.zoomMag = nan;
             return m;
         }(),
         false, R"({"trackerEnabled":true,"zoomMag":0.0})"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(statusText(c.message, c.debugView), c.text) << c.name;
}

// Doubles as json-c writes them with "%.4g", over magnitudes and signs, and
// a type name with characters that need escaping.
TEST(StatusText, WritesAsJsonC)
{
    std::mt19937 random(17);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-8, 8);
    std::vector<double> values = {0.0,     -0.0, 1.0,      -1.0,       0.5,   9999.5,
                                  99995.0, 1e-5, 123456.0, 0.00012345, 2.5e9, -3.0e-7};
    for (int i = 0; i < 2000; ++i)
        values.push_back(mantissa(random) * std::pow(10.0, exponent(random)));
    json_c_set_serialization_double_format("%.4g", JSON_C_OPTION_THREAD);
    for (double v : values) {
        json_object* number = json_object_new_double(v);
        std::string expected = json_object_to_json_string_ext(number, JSON_C_TO_STRING_PLAIN);
        json_object_put(number);
        std::string written;
        appendStatusDouble(written, v);
        ASSERT_EQ(written, expected) << v;
    }
    json_c_set_serialization_double_format(nullptr, JSON_C_OPTION_THREAD);

    auto m = scene({object(1, kSourceNone, kFlagReported, true, false, 0, 0, 0.5f, 0.5f,
                           "a/\"b\\\n\t\x01\x7fé")});
    std::string text = statusText(m, true);
    json_object* parsed = json_tokener_parse(text.c_str());
    ASSERT_NE(parsed, nullptr) << text;
    json_object* first = json_object_array_get_idx(json_object_object_get(parsed, "objects"), 0);
    EXPECT_STREQ(json_object_get_string(json_object_object_get(first, "text")),
                 "a/\"b\\\n\t\x01\x7fé");
    EXPECT_NE(text.find(R"("text":"a\/\"b\\\n\t\u0001)"), std::string::npos) << text;
    json_object_put(parsed);
}
