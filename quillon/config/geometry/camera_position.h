#pragma once

#include "quillon/config/geometry/position_record.h"

namespace quillon
{

// The latest good camera position and whether there has been one yet.
struct CameraPosition {
    PositionRecord record;
    bool valid = false;
};

// Process-wide camera position, written by the tracker after each good
// data-cache read and read by the API and the overlays. Copies in and out
// under a lock, so a reader sees either the previous or the new record whole.
CameraPosition cameraPosition();
void setCameraPosition(const PositionRecord& record);
void invalidateCameraPosition();

} // namespace quillon
