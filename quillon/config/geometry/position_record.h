#pragma once

#include <cstdint>

namespace quillon
{

// One camera position read from the PTZ driver's data cache. The members are
// in the driver's memory order; the status word, speeds and zoom factor are
// passed through from the driver unchanged.
struct PositionRecord {
    std::uint32_t status = 0;   // driver status bits (0x13: camera moving)
    float panSpeed = 0.0f;      // degrees per second
    float tiltSpeed = 0.0f;     // degrees per second
    float pan = 0.0f;           // degrees
    float tilt = 0.0f;          // degrees
    float horizontalFov = 0.0f; // degrees
    float verticalFov = 0.0f;   // degrees
    float zoomFactor = 0.0f;    // 1 = widest

    bool operator==(const PositionRecord&) const = default;
};

static_assert(sizeof(PositionRecord) == 32, "eight 32-bit values");

} // namespace quillon
