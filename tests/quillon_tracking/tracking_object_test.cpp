#include <gtest/gtest.h>

#include "quillon/tracking/objects/tracking_object.h"

namespace quillon
{
namespace
{

TEST(TrackingObject, DefaultsAndText)
{
    TrackingObject base;
    KineObject kine;
    EXPECT_EQ(base.getId(), -1);
    EXPECT_EQ(base.confidenceThreshold, 0);
    EXPECT_EQ(kine.confidenceThreshold, 1);
    EXPECT_EQ(base.shape.size(), 4u);
    EXPECT_EQ(base.objectType, -1);
    kine.source = 1;
    kine.id = 12;
    kine.flags = 3;
    kine.confidence = 80;
    kine.shape = Polygon::box(0.0f, 0.5f, 0.0f, 0.25f);
    EXPECT_EQ(kine.toString(),
              "[s:1,i:12,p:3:80]:{x: 0, y: 0}{x: 0, y: 0.25}{x: 0.5, y: 0.25}{x: 0.5, y: 0}");
    EXPECT_EQ(kine.getBox(), (Box{0.0f, 0.0f, 0.5f, 0.25f}));
    EXPECT_EQ(kine.getSize(), (Point{0.5f, 0.25f}));
}

TEST(TrackingObject, SetTimeFillsOnlyUnsetInstants)
{
    TrackingObject o;
    o.setTime(1000);
    EXPECT_EQ(o.firstSeenUs, 1000);
    EXPECT_EQ(o.confidentSinceUs, 1000);
    EXPECT_EQ(o.moveStateSinceUs, 1000);
    EXPECT_EQ(o.newestUs, 1000);
    o.setTime(500); // older observation: newest stays
    EXPECT_EQ(o.lastSeenUs, 500);
    EXPECT_EQ(o.firstSeenUs, 1000);
    EXPECT_EQ(o.newestUs, 1000);
}

TEST(TrackingObject, ConfidenceAndMovingRecordTheirChange)
{
    TrackingObject o;
    o.confidenceThreshold = 50;
    o.setTime(1000000);
    o.setTime(2000000);
    o.setConfidence(60);
    EXPECT_TRUE(o.confident);
    EXPECT_EQ(o.confidentSinceUs, 2000000);
    o.setTime(3000000);
    o.setConfidence(70); // still confident: instant unchanged
    o.setConfidence(70);
    EXPECT_EQ(o.confidentSinceUs, 2000000);
    EXPECT_FLOAT_EQ(o.confidentTime(), 1.0f);
    o.setConfidence(10);
    EXPECT_FALSE(o.confident);
    EXPECT_EQ(o.confidentSinceUs, 3000000);

    o.setMoving(true);
    EXPECT_EQ(o.moveStateSinceUs, 3000000);
    o.setTime(3500000);
    o.setMoving(true);
    EXPECT_FLOAT_EQ(o.moveTime(), 0.5f);
}

TEST(TrackingObject, BaseTriggerTimes)
{
    struct Case {
        bool human;
        bool confident;
        bool moving;
        std::int64_t movingForUs;
        bool triggers;
    } cases[] = {
        {true, true, true, 249999, false},   {true, true, true, 250000, true},
        {false, true, true, 1499999, false}, {false, true, true, 1500000, true},
        {true, false, true, 5000000, false}, {true, true, false, 5000000, false},
    };
    for (const Case& c : cases) {
        TrackingObject o;
        o.human = c.human;
        o.confident = c.confident;
        o.setTime(1000);
        o.setMoving(c.moving);
        o.setTime(1000 + c.movingForUs);
        EXPECT_EQ(o.shouldTrigger(), c.triggers) << c.human << " " << c.movingForUs;
    }
}

TEST(TrackingObject, CloneKeepsTypeAndIsIndependent)
{
    KineObject k;
    k.id = 4;
    k.shape = Polygon::box(0.1f, 0.2f, 0.3f, 0.4f);
    std::shared_ptr<TrackingObject> copy = k.clone();
    ASSERT_NE(dynamic_cast<KineObject*>(copy.get()), nullptr);
    copy->shape = Polygon::defaultPolygon();
    EXPECT_EQ(k.getBox().width, 0.1f);
}

} // namespace
} // namespace quillon
