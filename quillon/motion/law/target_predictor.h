#pragma once

#include "quillon/config/geometry/point.h"
#include "quillon/config/geometry/points_container.h"
#include "quillon/config/geometry/position_record.h"

namespace quillon
{

// What the law steers on: the target's outline in image units ([-1, 1] each
// way, 0 at the centre, v up) and its velocity in image units per second.
struct LawTarget {
    const PointsContainer& outline;
    float velocityX = 0.0f;
    float velocityY = 0.0f;
};

// Predicts where the target will sit in the picture after the next interval:
// its centroid moved by its own velocity, less the way the camera moves the
// picture (its velocity and acceleration, from the position records).
// State: the camera velocity of the previous update. Owned with the control
// law by the tracker; bus thread only.
class TargetPredictor
{
public:
    // Error after `h` seconds, each component clamped to [-1, 1]. Remembers
    // the camera velocity for the next call.
    Point predict(const LawTarget& target, const PositionRecord& position, float h);
    void reset();

    Point cameraVelocity() const { return cameraVelocity_; }
    Point cameraAcceleration() const { return cameraAcceleration_; }

    // Camera velocity in image units per second: degrees per second over
    // half the field of view; 0 without a field of view.
    static Point imageVelocity(const PositionRecord& position);

private:
    Point cameraVelocity_;
    Point cameraAcceleration_;
};

} // namespace quillon
