#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "quillon/config/geometry/polygon.h"
#include "quillon/core/message.h"
#include "quillon/tracking/objects/tracking_object.h"

namespace quillon
{

// A trigger zone in view, for overlays: its outline in picture coordinates
// (0..1, y down).
struct VisualZone {
    std::int32_t profileId = -1;
    std::int32_t zoneType = 0;
    bool enabled = false;
    Polygon polygon;
};

// The Tracker's snapshot of one analysed scene, posted on the bus after each
// update once the picture rotation is known. Read-only once posted; the
// objects are copies that nothing else holds.
class AnalyzedVideoMessage : public Message
{
public:
    int channel = 1;
    std::int64_t sceneTimeUs = 0;
    std::int32_t rotation = 0;
    // Visible confident objects, and the tracked one (flags has kFlagTracked).
    std::vector<std::shared_ptr<TrackingObject>> objects;
    std::vector<VisualZone> zones;
    std::int32_t latestResult = 0; // the last move's result, 0 = none
    bool trackerEnabled = false;   // automatic triggering on
    bool moving = false;           // the camera reports motion
    float zoomMag = 1.0f;          // zoom factor of the frame's position
};

} // namespace quillon
