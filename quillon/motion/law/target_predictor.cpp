#include "quillon/motion/law/target_predictor.h"

#include <algorithm>

namespace quillon
{

namespace
{

float perHalfFov(float degreesPerSecond, float fov)
{
    return fov > 0.0f ? degreesPerSecond / fov * 2.0f : 0.0f;
}

} // namespace

Point TargetPredictor::imageVelocity(const PositionRecord& position)
{
    return {perHalfFov(position.panSpeed, position.horizontalFov),
            perHalfFov(position.tiltSpeed, position.verticalFov)};
}

Point TargetPredictor::predict(const LawTarget& target, const PositionRecord& position, float h)
{
    Point centre = target.outline.centroid();
    Point velocity = imageVelocity(position);
    // The first interval of a track (and a repeated scene time) has no
    // length: no acceleration can be told from it.
    if (h > 0.0f)
        cameraAcceleration_ = {(velocity.x - cameraVelocity_.x) / h,
                               (velocity.y - cameraVelocity_.y) / h};
    else
        cameraAcceleration_ = {};
    cameraVelocity_ = velocity;

    auto ahead = [h](float x, float v, float cv, float ca) {
        float e = x + v * h - (cv * h + ca * h * h / 2.0f);
        return std::clamp(e, -1.0f, 1.0f);
    };
    return {ahead(centre.x, target.velocityX, velocity.x, cameraAcceleration_.x),
            ahead(centre.y, target.velocityY, velocity.y, cameraAcceleration_.y)};
}

void TargetPredictor::reset()
{
    cameraVelocity_ = {};
    cameraAcceleration_ = {};
}

} // namespace quillon
