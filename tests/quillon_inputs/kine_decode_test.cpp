// Decoding of framed scene-feed messages into KineObjects and events.
#include <gtest/gtest.h>

#include "kine_frames.h"
#include "quillon/inputs/kine/kine_client.h"
#include "quillon/inputs/kine/kine_decode.h"
#include "quillon/inputs/kine/kine_scene_update_message.h"

namespace quillon
{
namespace
{

using kinetest::EventSpec;
using kinetest::framedScene;
using kinetest::ObjectSpec;

bool decode(const std::vector<std::uint8_t>& framed, KineSceneUpdate& out)
{
    return decodeKineMessage(framed.data(), framed.size(), out);
}

TEST(KineDecode, SceneTimeIsNanosecondsOverThousandAndZeroWhenAbsent)
{
    struct Case {
        std::optional<std::uint64_t> ns;
        std::int64_t us;
    } cases[] = {{std::nullopt, 0}, {999, 0}, {1999, 1}, {5000000000123456ull, 5000000000123}};
    for (const Case& c : cases) {
        KineSceneUpdate u;
        ASSERT_TRUE(decode(framedScene(c.ns, {ObjectSpec{}}), u));
        EXPECT_EQ(u.sceneTimeUs, c.us);
        ASSERT_EQ(u.objects.size(), 1u);
        EXPECT_EQ(u.objects[0].lastSeenUs, c.us);
    }
}

TEST(KineDecode, ObjectFieldsFromTheWire)
{
    ObjectSpec withBox;
    withBox.id = 17;
    ObjectSpec unsure;
    unsure.id = 18;
    unsure.confidence = 0.99f;
    unsure.box = false;
    unsure.velocity = false;
    ObjectSpec noConfidence;
    noConfidence.id = 19;
    noConfidence.confidence.reset();
    KineSceneUpdate u;
    ASSERT_TRUE(decode(framedScene(1000000, {withBox, unsure, noConfidence}), u));
    ASSERT_EQ(u.objects.size(), 3u);

    const KineObject& a = u.objects[0];
    EXPECT_EQ(a.id, 17);
    EXPECT_EQ(a.source, kSourceScene);
    EXPECT_EQ(a.confidence, 1);
    EXPECT_EQ(a.confidenceThreshold, 1);
    EXPECT_TRUE(a.confident);
    EXPECT_EQ(a.objectType, -1);
    EXPECT_TRUE(a.moving);
    EXPECT_FLOAT_EQ(a.velocityX, 0.25f);
    EXPECT_FLOAT_EQ(a.velocityY, -0.5f);
    EXPECT_EQ(a.shape.points(), Polygon::box(-0.2f, 0.1f, 0.4f, -0.3f).points());

    // 0.99 truncates to 0: not confident; no box: the default outline.
    const KineObject& b = u.objects[1];
    EXPECT_EQ(b.confidence, 0);
    EXPECT_FALSE(b.confident);
    EXPECT_EQ(b.shape.points(), Polygon::defaultPolygon().points());
    EXPECT_EQ(b.velocityX, 0.0f);
    EXPECT_EQ(u.objects[2].confidence, 0);
}

TEST(KineDecode, EventsKeepOrderIdsAndDuplicatesUnknownActionsMerge)
{
    KineSceneUpdate u;
    ASSERT_TRUE(
        decode(framedScene(1, {}, {{0, 4, {}}, {1, 5, {6, 7}}, {2, 8, {9, 9}}, {7, 10, {11}}}), u));
    ASSERT_EQ(u.events.size(), 4u);
    EXPECT_EQ(u.events[0].action, kKineDelete);
    EXPECT_EQ(u.events[1].action, kKineSplit);
    EXPECT_EQ(u.events[1].objectIds, (std::vector<std::int32_t>{6, 7}));
    EXPECT_EQ(u.events[2].objectIds, (std::vector<std::int32_t>{9, 9}));
    EXPECT_EQ(u.events[3].action, kKineMerge);
    EXPECT_EQ(u.events[3].objectId, 10);
}

TEST(KineDecode, LengthWordIsChecked)
{
    const std::vector<std::uint8_t> good = framedScene(3000, {ObjectSpec{}});
    struct Case {
        std::uint32_t word;
        bool ok;
    } cases[] = {{0, false},
                 {1, false},
                 {3, false},
                 {4, true}, // empty Scene
                 {static_cast<std::uint32_t>(good.size()), true},
                 {static_cast<std::uint32_t>(good.size() + 1), false}, // past the buffer
                 {0xffffffffu, false}};
    for (const Case& c : cases) {
        std::vector<std::uint8_t> b = good;
        b[0] = static_cast<std::uint8_t>(c.word >> 24);
        b[1] = static_cast<std::uint8_t>(c.word >> 16);
        b[2] = static_cast<std::uint8_t>(c.word >> 8);
        b[3] = static_cast<std::uint8_t>(c.word);
        KineSceneUpdate u;
        u.sceneTimeUs = 77;
        EXPECT_EQ(decode(b, u), c.ok) << c.word;
        if (c.word == 4) {
            EXPECT_EQ(u.sceneTimeUs, 0);
            EXPECT_TRUE(u.objects.empty());
        }
    }
    KineSceneUpdate u;
    EXPECT_FALSE(decodeKineMessage(good.data(), 3, u)); // not even a word
    EXPECT_FALSE(decodeKineMessage(nullptr, 0, u));
}

TEST(KineDecode, UndecodableProtobufIsRefusedAndMessageIsNull)
{
    std::vector<std::uint8_t> b = {0, 0, 0, 7, 0xff, 0xff, 0xff};
    EXPECT_EQ(KineClient::decode(b.data(), b.size()), nullptr);
    const std::vector<std::uint8_t> good = framedScene(2000, {ObjectSpec{}});
    auto message = KineClient::decode(good.data(), good.size());
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->update.sceneTimeUs, 2);
    EXPECT_GT(message->decodedAtUs, 0);
}

} // namespace
} // namespace quillon
