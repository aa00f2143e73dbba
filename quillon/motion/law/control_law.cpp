#include "quillon/motion/law/control_law.h"

#include <algorithm>
#include <cmath>

namespace quillon
{

namespace
{

// Gains tuned on the camera in its default speed space; the alternate space
// reads every speed 50 times smaller, so its gains are 50 times smaller and
// its output dead zone likewise.
ControllerGains baseGains(GainSet set, float errorDeadZone)
{
    ControllerGains g;
    g.errorDeadZone = errorDeadZone;
    if (set == GainSet::Default) {
        g.kp = 17.0f;
        g.ki = 3.0f;
        g.kd = 18.0f;
        g.outputDeadZone = 1.0f;
    } else {
        g.kp = 0.34f;
        g.ki = 0.06f;
        g.kd = 0.36f;
        g.outputDeadZone = 0.02f;
    }
    return g;
}

constexpr float kPanErrorDeadZone = 0.02f;
// The same share of the picture height on a 16:9 picture.
constexpr float kTiltErrorDeadZone = 0.035555555f;

} // namespace

ControllerGains panGains(GainSet set)
{
    return baseGains(set, kPanErrorDeadZone);
}

ControllerGains tiltGains(GainSet set)
{
    return baseGains(set, kTiltErrorDeadZone);
}

ControlLaw::ControlLaw()
    : pan_("pan", panGains(GainSet::Default)), tilt_("tilt", tiltGains(GainSet::Default))
{
}

Speeds ControlLaw::computeSpeeds(const LawTarget& target, const PositionRecord& position,
                                 ControlTiming& timing, TargetPredictor& predictor)
{
    float h = static_cast<float>(timing.interval);
    Point error = predictor.predict(target, position, h);
    Speeds out;
    out.pan = pan_.step(error.x, h);
    out.tilt = tilt_.step(error.y, h);

    const BoundingBox& box = target.outline.boundingBox();
    float size =
        target.outline.empty() ? 0.0f : std::max(box.maxX - box.minX, box.maxY - box.minY) / 2.0f;
    ZoomRule::Input in{std::fabs(error.x), std::fabs(error.y), size, position.zoomFactor,
                       timing.sceneTimeUs};
    out.zoom = zoom_.decide(in, timing.zoomHoldUs);
    return out;
}

void ControlLaw::reset()
{
    pan_.reset();
    tilt_.reset();
    zoom_.reset();
}

void ControlLaw::useGainSet(GainSet set)
{
    ControllerGains p = panGains(set), t = tiltGains(set);
    pan_.setGains(p.kp, p.ki, p.kd);
    pan_.setOutputDeadZone(p.outputDeadZone);
    tilt_.setGains(t.kp, t.ki, t.kd);
    tilt_.setOutputDeadZone(t.outputDeadZone);
    gainSet_ = set;
}

} // namespace quillon
