// The analytics payload into a scene: class table, confidences, boxes at
// both rotations, scene time and bad input.
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "quillon/inputs/fusion/fusion_classes.h"
#include "quillon/inputs/fusion/fusion_payload.h"

namespace quillon
{
namespace
{

using nlohmann::json;

json observation(const json& id, const json& type, const json& score, const json& left = 0.2,
                 const json& right = 0.4, const json& top = 0.1, const json& bottom = 0.5)
{
    return {{"track_id", id},
            {"class", {{"type", type}, {"score", score}}},
            {"bounding_box", {{"left", left}, {"right", right}, {"top", top}, {"bottom", bottom}}}};
}

std::string payload(const json& observations)
{
    return json{{"frame", {{"observations", observations}}}}.dump();
}

TrackerScene parse(const std::string& text, int rotation = 0)
{
    TrackerScene scene;
    EXPECT_TRUE(parseFusionPayload(text, 42, rotation, makeFusionClassTable(), scene)) << text;
    return scene;
}

TEST(FusionPayload, ClassTableIdsAndThresholds)
{
    const FusionClassTable t = makeFusionClassTable();
    const char* order[] = {"Human", "Bike",    "Car",  "Truck",
                           "Bus",   "Vehicle", "Face", "LicensePlate"};
    ASSERT_EQ(t.size(), 8u);
    for (int i = 0; i < 8; i++) {
        const FusionClass& c = t.at(order[i]);
        EXPECT_EQ(c.id, i + 1);
        EXPECT_EQ(c.name, order[i]);
        EXPECT_EQ(c.threshold, i < 6 ? 0.3 : 100.0);
    }
}

TEST(FusionPayload, ConfidenceAgainstThresholdPerMille)
{
    struct Case {
        const char* type;
        double score;
        int confidence;
        int threshold;
        bool confident;
        int objectType;
    } cases[] = {
        {"Human", 0.31, 310, 300, true, 1},    {"Human", 0.29, 289, 300, false, 1},
        {"Face", 0.99, 990, 100000, false, 7}, {"LicensePlate", 1.0, 1000, 100000, false, 8},
        {"Vehicle", 0.3, 300, 300, true, 6},   {"Bike", 0.0, 0, 300, false, 2}};
    for (const Case& c : cases) {
        TrackerScene s = parse(payload(json::array({observation("5", c.type, c.score)})));
        ASSERT_EQ(s.objects.size(), 1u) << c.type;
        const TrackingObject& o = *s.objects[0];
        // 0.29 * 1000 is 289.99...: truncation gives 289 or 290, never 300.
        if (c.score == 0.29)
            EXPECT_LE(o.confidence, 290);
        else
            EXPECT_EQ(o.confidence, c.confidence) << c.type;
        EXPECT_EQ(o.confidenceThreshold, c.threshold);
        EXPECT_EQ(o.confident, c.confident) << c.type << " " << c.score;
        EXPECT_EQ(o.objectType, c.objectType);
        EXPECT_EQ(o.source, kSourceFused);
        EXPECT_EQ(o.flags, kFlagReported);
        EXPECT_TRUE(o.moving);
        EXPECT_EQ(o.id, 5);
        EXPECT_TRUE(s.isVisible(5));
    }
}

TEST(FusionPayload, BoxCornersFollowTheRotation)
{
    const std::string text = payload(json::array({observation("1", "Human", 0.9)}));
    // Upright: u = 2x - 1, v = 1 - 2y; rotated by 180 both negated.
    struct Case {
        int rotation;
        Polygon box;
    } cases[] = {{0, Polygon::box(-0.6f, -0.2f, 0.0f, 0.8f)},
                 {-1, Polygon::box(-0.6f, -0.2f, 0.0f, 0.8f)},
                 {180, Polygon::box(0.6f, 0.2f, 0.0f, -0.8f)}};
    for (const Case& c : cases) {
        TrackerScene s = parse(text, c.rotation);
        ASSERT_EQ(s.objects.size(), 1u);
        const auto& got = s.objects[0]->shape.points();
        const auto& want = c.box.points();
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); i++) {
            EXPECT_NEAR(got[i].x, want[i].x, 1e-6) << c.rotation;
            EXPECT_NEAR(got[i].y, want[i].y, 1e-6) << c.rotation;
        }
    }
}

TEST(FusionPayload, SceneTimeIsSixtyFourBit)
{
    EXPECT_EQ(fusionSceneTimeUs(5000, 0), 5000000000LL);
    EXPECT_EQ(fusionSceneTimeUs(3000000, 999999999), 3000000999999LL);
    TrackerScene s;
    ASSERT_TRUE(
        parseFusionPayload(payload(json::array()), 5000000000LL, 0, makeFusionClassTable(), s));
    EXPECT_EQ(s.sceneTimeUs, 5000000000LL);
    EXPECT_TRUE(s.objects.empty());
}

TEST(FusionPayload, BadObservationsLoseOnlyThemselves)
{
    const double inf = std::numeric_limits<double>::infinity();
    json bad = json::array({
        observation("7", "Animal", 0.9),         // unknown class
        observation("8", "", 0.9),               // empty class
        observation(9, "Human", 0.9),            // number, not text
        observation("-1", "Human", 0.9),         // negative
        observation("2147483648", "Human", 0.9), // beyond int32
        observation("12a", "Human", 0.9),        // not decimal
        observation(" 12", "Human", 0.9),        // not decimal
        observation("", "Human", 0.9),           // empty
        observation("13", "Human", 1.5),         // score above 1
        observation("14", "Human", -0.1),        // score below 0
        observation("15", "Human", "0.9"),       // mistyped score
        observation("16", 3, 0.9),               // mistyped type
        json{{"track_id", "17"}},                // no class, no box
        json{{"track_id", "18"}, {"class", {{"type", "Human"}, {"score", 0.5}}}}, // no box
        observation("19", "Human", 0.9, 0.1, "x"),                                // mistyped corner
        json("observation"),                                                      // not an object
        observation("20", "Human", 0.9, 0.1, 0.2, 0.3, 0.4),
        observation("20", "Human", 0.8), // repeated id
        observation("2147483647", "Car", 0.5),
    });
    // A non-finite corner (not expressible in JSON text) goes through the
    // same check as a mistyped one.
    bad.push_back(observation("21", "Human", 0.9, inf));
    TrackerScene s = parse(payload(bad));
    ASSERT_EQ(s.objects.size(), 2u);
    EXPECT_EQ(s.objects[0]->id, 20);
    EXPECT_EQ(s.objects[1]->id, 2147483647);
}

TEST(FusionPayload, OnlyTheObservationFieldsCount)
{
    const std::string box = R"("bounding_box":{"left":0.1,"right":0.2,"top":0.1,"bottom":0.2})";
    struct Case {
        std::string text;
        std::vector<int> ids;
    } cases[] = {
        // Other keys and nested look-alikes are ignored; non-object entries
        // are dropped.
        {R"({"v":1,"frame":{"x":{"observations":[]},"observations":[{"track_id":"1","x":)"
         R"({"track_id":"9"},"class":{"type":"Human","score":0.5,"more":[1]},)" +
             box + R"(},[1],null,"2"]}})",
         {1}},
        // The last of repeated keys holds.
        {R"({"frame":{"observations":[{"track_id":"1","class":{"type":"Human","score":0.5},)" +
             box + R"(}]},"frame":{"observations":[]}})",
         {}},
        {R"({"frame":{"observations":[{"track_id":"x","track_id":"4","class":{"type":"Car"},)"
         R"("class":{"type":"Human","score":0.5},)" +
             box + R"(}]}})",
         {4}},
        {R"({"frame":{"observations":[{"track_id":"4","class":{"type":"Human","score":0.5},)" +
             box + R"(,"bounding_box":[0.1,0.2,0.1,0.2]}]}})",
         {}},
    };
    for (const Case& c : cases) {
        TrackerScene s = parse(c.text);
        std::vector<int> ids;
        for (const auto& o : s.objects)
            ids.push_back(o->id);
        EXPECT_EQ(ids, c.ids) << c.text;
    }
}

TEST(FusionPayload, PayloadsWithoutObservationsAreDropped)
{
    const char* texts[] = {"",
                           "not json",
                           "{\"frame\":",
                           "[1,2]",
                           "{}",
                           "{\"frame\":[]}",
                           "{\"frame\":{\"observations\":{}}}",
                           "null"};
    for (const char* t : texts) {
        TrackerScene s(99);
        EXPECT_FALSE(parseFusionPayload(t, 1, 0, makeFusionClassTable(), s)) << t;
        EXPECT_EQ(s.sceneTimeUs, 99);
    }
    // Read by its size: the bytes after it are not part of the payload.
    const std::string text = payload(json::array({observation("3", "Car", 0.9)})) + "garbage";
    TrackerScene s;
    EXPECT_TRUE(parseFusionPayload(std::string_view(text.data(), text.size() - 7), 1, 0,
                                   makeFusionClassTable(), s));
    EXPECT_EQ(s.objects.size(), 1u);
}

} // namespace
} // namespace quillon
