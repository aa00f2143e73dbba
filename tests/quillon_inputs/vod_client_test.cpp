#include <cmath>
#include <cstdlib>

#include <gtest/gtest.h>

#include "quillon/core/channel.h"
#include "quillon/inputs/vod/vod_client.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "support/log_capture.h"
#include "vod_frames.h"

namespace quillon
{
namespace
{

// Log lines are mirrored to standard error for the captures below.
[[maybe_unused]] const bool kLogMirror = setenv("QUILLON_LOG_STDERR", "1", 1) == 0;

using vodtest::Det;
using vodtest::Ev;
using vodtest::sceneBytes;

VodSceneRecord decode(const std::vector<std::uint8_t>& bytes)
{
    VodSceneRecord record;
    EXPECT_TRUE(decodeVodScene(bytes.data(), bytes.size(), record));
    return record;
}

TEST(VodDecode, CopiesDetectionsAndCapsEventIds)
{
    VodSceneRecord r = decode(sceneBytes(5000000123ULL, {{-0.5f, 0.4f, -0.3f, -0.2f, 7, 0, 90, 2}},
                                         {{1, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9}}}));
    EXPECT_EQ(r.timestamp, 5000000123ULL);
    ASSERT_EQ(r.detections.size(), 1u);
    EXPECT_EQ(r.detections[0].top, 0.4f);
    EXPECT_EQ(r.detections[0].id, 7u);
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0].idCount, 6u);
    EXPECT_EQ(r.events[0].ids[5], 6);
}

TEST(VodDecode, BadBytesAreRefused)
{
    const std::uint8_t garbage[] = {0xff, 0xff, 0xff, 0xff, 0x0f, 0x12};
    VodSceneRecord record;
    EXPECT_FALSE(decodeVodScene(garbage, sizeof garbage, record));
    // Through the parser's frame entry, with no subscription: nothing reaches
    // a client, nothing crashes.
    VodParser::instance().onFrame(garbage, sizeof garbage);
    VodParser::instance().onFrame(nullptr, 0);
}

TEST(VodCalibration, BestF1WinsFirstOnTies)
{
    struct Case {
        const char* name;
        std::vector<VodCalibration> calibrations;
        int threshold;
    } cases[] = {
        {"None", {}, 0},
        {"Truncated", {{0.9f, 0.8f, 37.9f}}, 37},
        {"Best", {{0.6f, 0.95f, 20.0f}, {0.9f, 0.85f, 40.0f}}, 40},
        {"TieFirst", {{0.8f, 0.6f, 11.0f}, {0.6f, 0.8f, 22.0f}}, 11},
        {"ZeroF1", {{0.0f, 0.0f, 50.0f}, {0.0f, 0.7f, 60.0f}}, 0},
        {"Negative", {{0.5f, 0.5f, -3.7f}}, -3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(calibratedThreshold(c.calibrations), c.threshold) << c.name;
}

class VodClientMessages : public ::testing::Test
{
protected:
    VodClientMessages() : client(1, bus)
    {
        client.setObjectClasses({{0, {0, "human", 40, true, true}},
                                 {1, {1, "vehicle", -1, false, true}},
                                 {4, {4, "bag", -1, false, false}}});
    }

    Channel bus;
    VodClient client;
};

TEST_F(VodClientMessages, FiltersAndBuildsObjects)
{
    const float nan = std::nanf("");
    testsupport::LogCapture log;
    auto message = client.buildMessage(
        decode(sceneBytes(3000000999ULL,
                          {
                              {-0.5f, 0.4f, -0.3f, -0.2f, 7, 0, 90, 2}, // kept
                              {0.1f, 0.2f, 0.3f, 0.1f, 7, 1, 50, 1},    // same id: first stays
                              {0.1f, 0.2f, 0.3f, 0.1f, 8, 4, 50, 1},    // class disabled
                              {0.1f, 0.2f, 0.3f, 0.1f, 9, 3, 50, 1},    // class unknown
                              {0.1f, 0.2f, 0.3f, 0.1f, 10, 1, 20, 7},   // status 7 -> 0
                              {nan, 0.2f, 0.3f, 0.1f, 11, 0, 90, 2},    // not finite
                              {0.1f, INFINITY, 0.3f, 0.1f, 12, 0, 90, 2},
                          },
                          {{5, 3, {4, 4, 2}}, {1, 3, {}}})));
    // Boxes with a non-finite edge never reach the store, and are reported.
    const std::string text = log.text();
    EXPECT_EQ(
        testsupport::count(text, "VodClient: skipped 2 detection(s) with non-finite coordinates\n"),
        1u)
        << text;
    EXPECT_EQ(message->sceneTimeUs, 3000000);
    ASSERT_EQ(message->objects.size(), 2u);
    const VodObject& human = message->objects.at(7);
    EXPECT_EQ(human.objectType, 0);
    EXPECT_TRUE(human.human);
    EXPECT_EQ(human.confidenceThreshold, 40);
    EXPECT_EQ(human.confidence, 90);
    // v points up: top is the larger v.
    const Box box = human.getBox();
    EXPECT_FLOAT_EQ(box.x, -0.5f);
    EXPECT_FLOAT_EQ(box.y, -0.2f);
    EXPECT_NEAR(box.width, 0.2f, 1e-6);
    EXPECT_NEAR(box.height, 0.6f, 1e-6);
    EXPECT_EQ(human.shape[0], (Point{-0.5f, 0.4f}));
    const VodObject& car = message->objects.at(10);
    EXPECT_EQ(car.detectionStatus, kVodUntracked);
    EXPECT_TRUE(car.isConfident()); // threshold -1
    ASSERT_EQ(message->events.size(), 2u);
    EXPECT_EQ(message->events[0].action, kVodEventDelete); // 5 -> delete
    EXPECT_EQ(message->events[0].objectIds, (std::set<int>{2, 4}));
    EXPECT_EQ(message->events[1].action, kVodEventConnect);
}

TEST_F(VodClientMessages, EmptySceneGivesAnEmptyMessage)
{
    auto message = client.buildMessage(decode(sceneBytes(1000, {})));
    EXPECT_TRUE(message->objects.empty());
    EXPECT_TRUE(message->events.empty());
    EXPECT_EQ(message->sceneTimeUs, 1);
}

TEST_F(VodClientMessages, NoClassesDropsEveryDetection)
{
    client.setObjectClasses({});
    auto message =
        client.buildMessage(decode(sceneBytes(1000, {{0.1f, 0.2f, 0.3f, 0.1f, 7, 0, 90, 2}})));
    EXPECT_TRUE(message->objects.empty());
}

} // namespace
} // namespace quillon
