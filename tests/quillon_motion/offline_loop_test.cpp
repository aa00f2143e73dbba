// The control law closing the loop over a small camera model: speeds
// proportional to the field of view, an acceleration limit, frames at 15 Hz
// that reach the law 100 ms after capture, and the position read at capture
// time. A still target 10 degrees off-axis and one moving at 5 degrees per
// second must both be centred.
#include <cmath>
#include <deque>

#include <gtest/gtest.h>

#include "quillon/config/geometry/polygon.h"
#include "quillon/motion/law/control_law.h"

using namespace quillon;

namespace
{

struct ModelCamera {
    double fovPerSecondAt100 = 3.0;
    double hfov = 60.0, vfov = 34.0;
    double pan = 0.0, panSpeed = 0.0, commanded = 0.0; // degrees, degrees per second
    static constexpr double kAccel = 720.0, kMax = 180.0;

    void command(double speed)
    {
        commanded = std::clamp(speed / 100.0 * fovPerSecondAt100 * hfov, -kMax, kMax);
    }
    void advance(double dt)
    {
        panSpeed += std::clamp(commanded - panSpeed, -kAccel * dt, kAccel * dt);
        pan += panSpeed * dt;
    }
};

struct Frame {
    double deliverAt;
    float x;
    PositionRecord position;
};

struct LoopResult {
    double finalError = 0.0;      // image units, largest over the last 2 s
    double finalSpeedError = 0.0; // |camera - target| degrees per second, largest over the last 2 s
};

LoopResult runLoop(double fovPerSecond, double targetStart, double targetSpeed, double seconds)
{
    ModelCamera cam;
    cam.fovPerSecondAt100 = fovPerSecond;
    ControlLaw law;
    law.setZoomLimits(1.0f, 1.0f); // zoom held
    TargetPredictor predictor;
    ControlTiming timing;
    std::deque<Frame> pending;
    const double dt = 0.001, frame = 1.0 / 15.0, latency = 0.1;
    double nextCapture = 0.0, lastScene = -1.0;
    LoopResult out;
    for (double t = 0.0; t < seconds; t += dt) {
        double target = targetStart + targetSpeed * t;
        if (t >= nextCapture) {
            PositionRecord p;
            p.pan = static_cast<float>(cam.pan);
            p.panSpeed = static_cast<float>(cam.panSpeed);
            p.horizontalFov = static_cast<float>(cam.hfov);
            p.verticalFov = static_cast<float>(cam.vfov);
            p.zoomFactor = 1.0f;
            float x = static_cast<float>((target - cam.pan) / (cam.hfov / 2.0));
            pending.push_back({t + latency, x, p});
            nextCapture += frame;
        }
        while (!pending.empty() && pending.front().deliverAt <= t) {
            Frame f = pending.front();
            pending.pop_front();
            double scene = f.deliverAt - latency;
            timing.interval = lastScene < 0 ? 0.0 : scene - lastScene;
            timing.sceneTimeUs = static_cast<std::int64_t>(scene * 1e6);
            lastScene = scene;
            Polygon box = Polygon::box(f.x - 0.05f, f.x + 0.05f, -0.1f, 0.1f);
            float vx = static_cast<float>(targetSpeed / (cam.hfov / 2.0));
            Speeds s = law.computeSpeeds(LawTarget{box, vx, 0.0f}, f.position, timing, predictor);
            EXPECT_EQ(s.zoom, 0.0);
            cam.command(s.pan);
        }
        cam.advance(dt);
        if (t > seconds - 2.0) {
            out.finalError =
                std::max(out.finalError, std::fabs((target - cam.pan) / (cam.hfov / 2.0)));
            out.finalSpeedError =
                std::max(out.finalSpeedError, std::fabs(cam.panSpeed - targetSpeed));
        }
    }
    return out;
}

} // namespace

TEST(OfflineLoop, StepAndRampConvergeAtEachSpeedUnit)
{
    for (double unit : {1.0, 3.0, 5.0}) {
        // The slowest unit needs longer: the gains were tuned for the camera's
        // own unit.
        double seconds = unit < 2.0 ? 40.0 : 20.0;
        LoopResult step = runLoop(unit, 10.0, 0.0, seconds);
        EXPECT_LT(step.finalError, 0.05) << unit;
        LoopResult ramp = runLoop(unit, 0.0, 5.0, seconds);
        EXPECT_LT(ramp.finalError, 0.05) << unit;
        EXPECT_LT(ramp.finalSpeedError, 0.5) << unit; // within 10 % of 5 deg/s
    }
}
