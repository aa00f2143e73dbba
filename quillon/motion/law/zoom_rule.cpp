#include "quillon/motion/law/zoom_rule.h"

#include <cmath>

namespace quillon
{

namespace
{

constexpr float kCentredX = 0.1f;
constexpr float kCentredY = 0.17777778f; // kCentredX scaled by 16/9
constexpr float kSmall = 0.45f;
constexpr float kLarge = 0.55f;
constexpr float kEscapeX = 0.2f;
constexpr float kEscapeY = 0.35555556f;
constexpr float kFar = 0.6f;

} // namespace

float ZoomRule::decide(const Input& in, std::int64_t& holdUntilUs)
{
    if (holdUntilUs == 0) {
        holdUntilUs = in.sceneTimeUs + kHoldUs;
        return 0.0f;
    }
    if (in.sceneTimeUs <= holdUntilUs)
        return 0.0f;

    // A broken outline or position gives no zoom and leaves the history.
    if (!std::isfinite(in.errorX) || !std::isfinite(in.errorY) || !std::isfinite(in.sizeFraction) ||
        !std::isfinite(in.zoomFactor))
        return 0.0f;
    const float s = in.sizeFraction;
    float r = 0.0f;
    if (s < kSmall && in.errorX < kCentredX && previousX_ < kCentredX && in.errorY < kCentredY) {
        bool steady = previousY_ < kCentredY && in.zoomFactor < zoomLimitHigh_;
        r = steady ? (0.5f - s) * 100.0f : 0.0f;
    } else if (s > kLarge) {
        r = (0.5f - s) * 100.0f;
    } else {
        r = escaping(in);
        if (r < 0.0f && !(in.zoomFactor > zoomLimitLow_))
            r = 0.0f;
    }
    previousX_ = in.errorX;
    previousY_ = in.errorY;
    return r;
}

// Zoom out on a target that leaves, or keeps away from, the middle of the
// picture: down to a quarter of the frame, or at full speed when it is far
// out and not tiny.
float ZoomRule::escaping(const Input& in) const
{
    const float cx = in.errorX, cy = in.errorY, px = previousX_, py = previousY_;
    const float s = in.sizeFraction;
    const bool zoomed = in.zoomFactor > 1.0f;
    const float farOut = s > 0.1f ? -100.0f : 0.0f;
    auto shrinkOrFar = [&](bool far) {
        if (!zoomed)
            return 0.0f;
        if (s > 0.25f)
            return (0.25f - s) * 100.0f;
        return far ? farOut : 0.0f;
    };

    if (cx <= kEscapeX) {
        if (cy <= kEscapeY)
            return 0.0f;
        if (py > kEscapeY)
            return shrinkOrFar(cy > kFar);
        return cy > kFar && zoomed ? farOut : 0.0f;
    }
    if (px > kEscapeX || (cy > kEscapeY && py > kEscapeY))
        return shrinkOrFar(cx > kFar || cy > kFar);
    return (cx > kFar || cy > kFar) && zoomed ? farOut : 0.0f;
}

void ZoomRule::reset()
{
    previousX_ = 1.0f;
    previousY_ = 1.0f;
}

} // namespace quillon
