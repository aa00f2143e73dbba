#pragma once

#include <cstdint>

namespace quillon
{

// The zoom decision of one update: zoom in on a small centred target, out on
// a large one, and out on a target that escapes the picture. Every new target
// first gets 2 s of scene time without zoom.
//
// State: the absolute errors seen at the last evaluation (1, 1 after reset)
// and the zoom limits. Bus thread only.
class ZoomRule
{
public:
    struct Input {
        float errorX = 0.0f; // |predicted error|, image units
        float errorY = 0.0f;
        float sizeFraction = 0.0f; // max(box width, box height) / 2
        float zoomFactor = 1.0f;   // 1 = widest
        std::int64_t sceneTimeUs = 0;
    };

    static constexpr std::int64_t kHoldUs = 2'000'000;

    // Zoom speed for this update. `holdUntilUs` is the caller's zoom hold
    // (0 = not set): the first call sets it to scene time + 2 s.
    float decide(const Input& in, std::int64_t& holdUntilUs);
    void reset();

    void setLimits(float high, float low)
    {
        zoomLimitHigh_ = high;
        zoomLimitLow_ = low;
    }
    float zoomLimitHigh() const { return zoomLimitHigh_; }
    float zoomLimitLow() const { return zoomLimitLow_; }
    float previousErrorX() const { return previousX_; }
    float previousErrorY() const { return previousY_; }

private:
    float escaping(const Input& in) const;

    float previousX_ = 1.0f;
    float previousY_ = 1.0f;
    float zoomLimitHigh_ = 8.0f;
    float zoomLimitLow_ = 1.0f;
};

} // namespace quillon
