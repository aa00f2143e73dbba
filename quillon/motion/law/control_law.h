#pragma once

#include <cstdint>

#include "quillon/config/geometry/position_record.h"
#include "quillon/motion/law/direction_controller.h"
#include "quillon/motion/law/target_predictor.h"
#include "quillon/motion/law/zoom_rule.h"

namespace quillon
{

// Timing of one update, kept by the tracker.
struct ControlTiming {
    std::int64_t sceneTimeUs = 0;
    double interval = 0.0;       // h: seconds since the previous update
    std::int64_t zoomHoldUs = 0; // zoom held until this scene time; 0 = not set
};

struct Speeds {
    double pan = 0.0;
    double tilt = 0.0;
    double zoom = 0.0;
    bool operator==(const Speeds&) const = default;
};

// Which speed space the gains are tuned for: the driver's default, or the
// alternate space the driver check selects (speeds 50 times smaller).
enum class GainSet { Default, Alternate };

ControllerGains panGains(GainSet set);
ControllerGains tiltGains(GainSet set);

// The pan/tilt/zoom control law: one controller per direction and the zoom
// rule. The target predictor is the tracker's and is passed in, so the
// tracker resets both together. Owned by the tracker; bus thread only.
class ControlLaw
{
public:
    ControlLaw();

    // Speeds that centre and frame the target. `timing.zoomHoldUs` is set
    // by the first call after it was cleared.
    Speeds computeSpeeds(const LawTarget& target, const PositionRecord& position,
                         ControlTiming& timing, TargetPredictor& predictor);
    void reset();

    // Switches both controllers to a gain set (kp, ki, kd and the output
    // dead zone; the rest stays).
    void useGainSet(GainSet set);
    GainSet gainSet() const { return gainSet_; }

    void setPanGains(float kp, float ki, float kd) { pan_.setGains(kp, ki, kd); }
    void setTiltGains(float kp, float ki, float kd) { tilt_.setGains(kp, ki, kd); }
    void setPanOutputDeadZone(float zone) { pan_.setOutputDeadZone(zone); }
    void setTiltOutputDeadZone(float zone) { tilt_.setOutputDeadZone(zone); }
    void setZoomLimits(float high, float low) { zoom_.setLimits(high, low); }

    const DirectionController& pan() const { return pan_; }
    const DirectionController& tilt() const { return tilt_; }
    const ZoomRule& zoom() const { return zoom_; }

private:
    DirectionController pan_;
    DirectionController tilt_;
    ZoomRule zoom_;
    GainSet gainSet_ = GainSet::Default;
};

} // namespace quillon
