#pragma once

#include <cstdint>

#include "quillon/config/geometry/point.h"
#include "quillon/config/geometry/position_record.h"

namespace quillon
{

// Where the detection store learns the camera position of a scene and the
// direction of a picture point. Called on the thread that folds scenes into
// the store.
class VodPositionSource
{
public:
    virtual ~VodPositionSource() = default;

    // The camera position at `sceneTimeUs` (feed time); false when unknown.
    virtual bool positionAt(std::int64_t sceneTimeUs, PositionRecord& position) = 0;
    // Device point (u, v in [-1, 1], v up) seen from `position` -> pan/tilt;
    // false when it cannot be converted.
    virtual bool screenToPanTilt(Point screen, const PositionRecord& position, Point& panTilt) = 0;
};

} // namespace quillon
