// The control law alone: predictor, controller steps, gain sets,
// guards against zero gains and intervals, and the zoom rule's cases.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quillon/config/geometry/polygon.h"
#include "quillon/motion/law/control_law.h"

using namespace quillon;

namespace
{

PositionRecord still(float zoom = 1.0f)
{
    PositionRecord r;
    r.horizontalFov = 60.0f;
    r.verticalFov = 34.0f;
    r.zoomFactor = zoom;
    return r;
}

// A box of half-size `s` centred on (x, y).
Polygon boxAt(float x, float y, float s)
{
    return Polygon::box(x - s, x + s, y - s, y + s);
}

struct Law {
    ControlLaw law;
    TargetPredictor predictor;
    ControlTiming timing;

    Speeds update(const Polygon& outline, const PositionRecord& pos, double h = 0.1)
    {
        timing.sceneTimeUs += static_cast<std::int64_t>(h * 1e6);
        timing.interval = h;
        return law.computeSpeeds(LawTarget{outline, 0.0f, 0.0f}, pos, timing, predictor);
    }
    // Runs past the 2 s zoom hold with a centred, still target.
    void passHold()
    {
        Polygon centred = boxAt(0.0f, 0.0f, 0.2f);
        for (int i = 0; i < 22; ++i)
            update(centred, still());
        law.reset();
    }
};

} // namespace

TEST(TargetPredictor, ErrorLeadsTheTargetAndLagsTheCamera)
{
    TargetPredictor p;
    Polygon outline = boxAt(0.2f, -0.1f, 0.05f);
    PositionRecord pos = still();
    pos.panSpeed = 15.0f; // 0.5 image units per second on a 60-degree picture
    pos.tiltSpeed = 0.0f;
    // First update: the camera seems to have accelerated from rest.
    Point e = p.predict(LawTarget{outline, 0.4f, 0.2f}, pos, 0.5f);
    EXPECT_NEAR(p.cameraVelocity().x, 0.5f, 1e-6);
    EXPECT_NEAR(p.cameraAcceleration().x, 1.0f, 1e-6); // (new - previous) / h
    EXPECT_NEAR(e.x, 0.2f + 0.4f * 0.5f - (0.5f * 0.5f + 1.0f * 0.25f / 2.0f), 1e-6);
    EXPECT_NEAR(e.y, -0.1f + 0.2f * 0.5f, 1e-6);
    // Braking camera: negative acceleration.
    pos.panSpeed = 0.0f;
    p.predict(LawTarget{outline, 0.0f, 0.0f}, pos, 0.5f);
    EXPECT_NEAR(p.cameraAcceleration().x, -1.0f, 1e-6);
    // A zero interval tells no acceleration; errors are clamped.
    pos.panSpeed = 30.0f;
    e = p.predict(LawTarget{outline, 50.0f, -50.0f}, pos, 0.0f);
    EXPECT_EQ(p.cameraAcceleration(), (Point{0.0f, 0.0f}));
    e = p.predict(LawTarget{outline, 50.0f, -50.0f}, pos, 1.0f);
    EXPECT_EQ(e, (Point{1.0f, -1.0f}));
    // No field of view: no camera velocity instead of a division by zero.
    EXPECT_EQ(TargetPredictor::imageVelocity(PositionRecord{}), (Point{0.0f, 0.0f}));
    p.reset();
    EXPECT_EQ(p.cameraVelocity(), (Point{0.0f, 0.0f}));
}

TEST(DirectionController, DerivedConstantsFollowTheGains)
{
    struct Row {
        float kp, ki, kd, tt, tf;
    };
    const std::vector<Row> rows = {
        {17, 3, 18, std::sqrt(6.0f), 18.0f / 17.0f / 2.0f},
        {0.34f, 0.06f, 0.36f, std::sqrt(6.0f), 0.36f / 0.34f / 2.0f},
        {0, 3, 18, std::sqrt(6.0f), 0.0f}, // kp 0: no derivative filter
        {0, 3, 0, 1.0f, 0.0f},             // kp = kd = 0, ki > 0
        {17, 0, 18, 1.0f, 18.0f / 17.0f / 2.0f},
        {17, 3, 0, 1.0f, 0.0f},
    };
    DirectionController c("pan", panGains(GainSet::Default));
    for (const Row& r : rows) {
        c.setGains(r.kp, r.ki, r.kd);
        EXPECT_NEAR(c.tt(), r.tt, 1e-5) << r.kp << " " << r.ki << " " << r.kd;
        EXPECT_NEAR(c.tf(), r.tf, 1e-5) << r.kp << " " << r.ki << " " << r.kd;
        // Whatever the gains, the output of a few steps stays finite.
        c.reset();
        for (float h : {0.0f, 0.0f, 0.1f, 0.0f, 0.07f})
            EXPECT_TRUE(std::isfinite(c.step(0.3f, h)));
    }
}

TEST(DirectionController, DeadZoneAndClamp)
{
    struct Row {
        const char* what;
        float error;
        bool integralCleared;
        float clampedTo; // 0: not clamped
    };
    // kp 17: an error of 0.01 gives a raw output well below 1.
    const std::vector<Row> rows = {
        {"small error, small output", 0.01f, true, 0.0f},
        {"raw 95 is sent as 80", 95.0f / 17.0f, false, 80.0f},
        {"raw -95 is sent as -80", -95.0f / 17.0f, false, -80.0f},
        {"just outside the error dead zone", 0.03f, false, 0.0f},
    };
    for (const Row& r : rows) {
        ControllerGains g = panGains(GainSet::Default);
        g.kd = 0.0f; // no derivative: v = kp E - I
        DirectionController c("pan", g);
        c.step(0.5f, 0.1f); // leaves an integral behind
        float i = c.integral();
        ASSERT_NE(i, 0.0f);
        float u = c.step(r.error, 0.1f);
        float v = 17.0f * r.error - i;
        EXPECT_NEAR(c.lastRawOutput(), v, 1e-4) << r.what;
        if (r.integralCleared) {
            EXPECT_LT(std::fabs(v), 1.0f) << r.what;
            EXPECT_EQ(u, 0.0f) << r.what;
            EXPECT_EQ(c.integral(), 0.0f) << r.what;
        } else {
            EXPECT_NEAR(u, r.clampedTo != 0.0f ? r.clampedTo : v, 1e-4) << r.what;
            EXPECT_NE(c.integral(), 0.0f) << r.what;
        }
    }
}

TEST(DirectionController, AntiWindupHoldsTheIntegralWhileClamped)
{
    ControllerGains g = panGains(GainSet::Default);
    g.upperLimit = 10.0f; // kp alone asks 17 for the largest error
    DirectionController c("pan", g);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(c.step(1.0f, 0.1f), 10.0f) << i;
    // Back-calculation balances the integral where ki e = (v - u) / Tt:
    // v = 10 + 3 * sqrt(6), I = 17 - v.
    EXPECT_NEAR(c.integral(), 17.0f - (10.0f + 3.0f * std::sqrt(6.0f)), 1e-3);
    // Released, the output leaves the limit at once.
    EXPECT_LT(c.step(0.2f, 0.1f), 10.0f);
}

TEST(DirectionController, NonFiniteOutputIsSentAsZeroWithOneWarning)
{
    setenv("QUILLON_LOG_STDERR", "1", 1);
    DirectionController c("tilt", tiltGains(GainSet::Default));
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.step(NAN, 0.1f), 0.0f);
    EXPECT_EQ(c.step(INFINITY, 0.1f), 0.0f);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log, "quillon[W]: tilt controller: non-finite output, sending 0\n");
    // The state recovers: the next finite error steers again.
    EXPECT_NEAR(c.step(0.5f, 0.1f), 8.5f, 1e-4);
}

TEST(DirectionController, MotionHistorySubtractsMotionNotYetSeen)
{
    ControllerGains g = panGains(GainSet::Default);
    g.latency = 0.25f; // 2 entries
    MotionHistory h(g.historyGain, g.latency);
    EXPECT_EQ(h.capacity(), 2u);
    EXPECT_EQ(h.correction(), 0.0f);
    h.pushStep(0.1f);
    h.pushOutput(10.0f);
    h.pushStep(0.2f);
    // Newest pair: output 10 over the newest step 0.2 (within 0.25).
    EXPECT_NEAR(h.correction(), 0.04f * 10.0f * 0.2f, 1e-6);
    h.pushOutput(20.0f);
    h.pushStep(0.2f);
    // 20 over 0.2, then 10 over the 0.05 left of the window.
    EXPECT_NEAR(h.correction(), 0.04f * (20.0f * 0.2f + 10.0f * 0.05f), 1e-6);
    EXPECT_EQ(h.stepCount(), 2u);
    h.clear();
    EXPECT_EQ(h.correction(), 0.0f);
    // No window (the shipped setting): nothing is kept.
    MotionHistory none(0.04f, 0.0f);
    none.pushStep(0.1f);
    none.pushOutput(5.0f);
    EXPECT_EQ(none.stepCount() + none.outputCount(), 0u);
}

TEST(ControlLaw, GainSetsAndReset)
{
    ControlLaw law;
    EXPECT_EQ(law.pan().gains().kp, 17.0f);
    EXPECT_EQ(law.tilt().gains().errorDeadZone, 0.035555555f);
    law.useGainSet(GainSet::Alternate);
    for (const DirectionController* c : {&law.pan(), &law.tilt()}) {
        EXPECT_EQ(c->gains().kp, 0.34f);
        EXPECT_EQ(c->gains().ki, 0.06f);
        EXPECT_EQ(c->gains().kd, 0.36f);
        EXPECT_EQ(c->gains().outputDeadZone, 0.02f);
        EXPECT_EQ(c->gains().upperLimit, 80.0f);
        EXPECT_NEAR(c->tf(), 0.36f / 0.34f / 2.0f, 1e-6);
    }
    EXPECT_EQ(law.pan().gains().errorDeadZone, 0.02f);
    EXPECT_EQ(law.tilt().gains().errorDeadZone, 0.035555555f);

    Law run;
    Polygon off = boxAt(0.5f, 0.6f, 0.1f);
    for (int i = 0; i < 25; ++i)
        run.update(off, still(3.0f));
    EXPECT_NE(run.law.pan().integral(), 0.0f);
    EXPECT_LT(run.law.zoom().previousErrorX(), 1.0f);
    run.law.reset();
    for (const DirectionController* c : {&run.law.pan(), &run.law.tilt()}) {
        EXPECT_EQ(c->integral(), 0.0f);
        EXPECT_EQ(c->derivative(), 0.0f);
        EXPECT_FALSE(c->initialised());
    }
    EXPECT_EQ(run.law.zoom().previousErrorX(), 1.0f);
    EXPECT_EQ(run.law.zoom().previousErrorY(), 1.0f);
}

TEST(ZoomRule, HoldsTwoSecondsAfterEveryStart)
{
    Law run;
    Polygon small = boxAt(0.0f, 0.0f, 0.2f);
    std::int64_t start = run.timing.sceneTimeUs + 100000;
    std::vector<double> zooms;
    for (int i = 0; i < 23; ++i)
        zooms.push_back(run.update(small, still(2.0f)).zoom);
    EXPECT_EQ(run.timing.zoomHoldUs, start + 2000000);
    for (int i = 0; i <= 20; ++i) // up to and including the hold time
        EXPECT_EQ(zooms[i], 0.0) << i;
    EXPECT_NE(zooms[22], 0.0);
}

TEST(ZoomRule, Cases)
{
    struct Row {
        const char* what;
        float x, y, s, zoom;
        int updates; // after the hold, same input each time
        double expected;
    };
    const std::vector<Row> rows = {
        {"centred, s 0.3, z 2: zoom in", 0, 0, 0.3f, 2.0f, 2, 20.0},
        {"centred, s 0.3, z 8 (limit)", 0, 0, 0.3f, 8.0f, 2, 0.0},
        {"first centred update only learns the errors", 0, 0, 0.3f, 2.0f, 1, 0.0},
        {"s 0.6 at z 1: zoom out", 0, 0, 0.6f, 1.0f, 1, -10.0},
        {"far right, s 0.2, z 3", 0.7f, 0, 0.2f, 3.0f, 2, -100.0},
        {"far right, s 0.2, z 1", 0.7f, 0, 0.2f, 1.0f, 2, 0.0},
        {"right, s 0.4, z 3: shrink to a quarter", 0.3f, 0, 0.4f, 3.0f, 2, -15.0},
        {"far up, tiny, z 3", 0.0f, 0.7f, 0.05f, 3.0f, 2, 0.0},
        {"far up, s 0.2, z 3", 0.0f, 0.7f, 0.2f, 3.0f, 2, -100.0},
        {"off centre but inside, z 3", 0.15f, 0.3f, 0.2f, 3.0f, 2, 0.0},
    };
    for (const Row& r : rows) {
        ControlLaw law;
        ZoomRule rule;
        std::int64_t hold = 1; // already past
        ZoomRule::Input in{r.x, r.y, r.s, r.zoom, 10};
        float out = 0.0f;
        for (int i = 0; i < r.updates; ++i)
            out = rule.decide(in, hold);
        EXPECT_NEAR(out, r.expected, 1e-4) << r.what;
    }
    // zoomLimitLow keeps an escaping target from zooming out below it.
    ZoomRule rule;
    rule.setLimits(8.0f, 4.0f);
    std::int64_t hold = 1;
    ZoomRule::Input in{0.7f, 0.0f, 0.2f, 3.0f, 10};
    rule.decide(in, hold);
    EXPECT_EQ(rule.decide(in, hold), 0.0f);
}

TEST(ControlLaw, SizeComesFromTheOutlineBox)
{
    Law run;
    run.passHold();
    run.timing.zoomHoldUs = 1;
    Polygon wide = Polygon::box(-0.6f, 0.6f, -0.1f, 0.1f); // width 1.2: s = 0.6
    EXPECT_NEAR(run.update(wide, still()).zoom, -10.0, 1e-4);
}
