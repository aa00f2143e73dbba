// The data cache: interpolation inside the 10 s window, refusal outside.
#include <gtest/gtest.h>

#include "camsim/core/position_history.h"

using namespace camsim;

namespace
{

CameraState sample(long long t, double pan, double tilt = 0, double zoom = 1)
{
    CameraState s;
    s.timeUs = t;
    s.pan = pan;
    s.tilt = tilt;
    s.zoom = zoom;
    return s;
}

} // namespace

TEST(PositionHistory, InterpolatesBetweenSamplesAndToTheCurrentState)
{
    PositionHistory h;
    h.record(sample(1'000'000, 0, 0));
    h.record(sample(1'010'000, 1, -2));
    CameraState now = sample(1'015'000, 2, -4);
    auto s = h.at(1'005'000, now);
    ASSERT_TRUE(s);
    EXPECT_DOUBLE_EQ(s->pan, 0.5);
    EXPECT_DOUBLE_EQ(s->tilt, -1.0);
    EXPECT_EQ(s->timeUs, 1'005'000);
    s = h.at(1'012'500, now); // after the newest sample: towards now
    ASSERT_TRUE(s);
    EXPECT_DOUBLE_EQ(s->pan, 1.5);
    s = h.at(1'015'000, now);
    ASSERT_TRUE(s);
    EXPECT_DOUBLE_EQ(s->pan, 2.0);
}

TEST(PositionHistory, PanInterpolatesAcrossTheWrap)
{
    PositionHistory h;
    h.record(sample(0, 179));
    CameraState now = sample(10'000, -179);
    auto s = h.at(2'500, now);
    ASSERT_TRUE(s);
    EXPECT_NEAR(s->pan, 179.5, 1e-9);
    s = h.at(7'500, now);
    ASSERT_TRUE(s);
    EXPECT_NEAR(s->pan, -179.5, 1e-9);
}

TEST(PositionHistory, RefusesTimesOutsideTheWindow)
{
    PositionHistory h;
    for (long long t = 0; t <= 12'000'000; t += 10'000)
        h.record(sample(t, static_cast<double>(t) / 1e6));
    CameraState now = sample(12'000'000, 12);
    EXPECT_FALSE(h.at(1'999'999, now)); // older than 10 s
    EXPECT_TRUE(h.at(2'000'000, now));
    EXPECT_FALSE(h.at(12'000'001, now)); // the future
    auto s = h.at(2'345'000, now);
    ASSERT_TRUE(s);
    EXPECT_NEAR(s->pan, 2.345, 1e-9);
    EXPECT_LE(h.size(), 1002u); // old samples are dropped
}

TEST(PositionHistory, RefusesTimesBeforeTheFirstSample)
{
    PositionHistory h;
    h.record(sample(5'000'000, 1));
    EXPECT_FALSE(h.at(4'999'999, sample(5'100'000, 1)));
}

TEST(PositionHistory, BurstsOfSamplesDoNotGrowTheCache)
{
    PositionHistory h(10'000'000, 1000);
    h.record(sample(0, 0));
    h.record(sample(1000, 1));
    h.record(sample(1500, 2)); // too close: dropped
    EXPECT_EQ(h.size(), 2u);
    for (long long t = 1010; t < 2000; t += 10)
        h.record(sample(t, static_cast<double>(t) / 1000.0), true); // forced: replaces
    EXPECT_EQ(h.size(), 2u);
    auto s = h.at(1990, sample(1990, 1.99));
    ASSERT_TRUE(s);
    EXPECT_NEAR(s->pan, 1.99, 1e-9);
    h.record(sample(100, 5)); // older than the newest: ignored
    EXPECT_EQ(h.size(), 2u);
}
