#pragma once

#include <functional>

#include "quillon/config/geometry/camera_position.h"
#include "quillon/config/geometry/picture_format.h"

namespace quillon
{

// What the zone-profile API needs to know about the rest of the daemon,
// gathered by the caller before it takes the store's lock: whether tracking
// is active, the latest camera position (valid once the tracker has read
// one), the picture format, and which presets channel 1 has.
struct ZoneEditContext {
    bool active = false;
    CameraPosition camera;
    PictureFormat format;
    // Whether preset `n` exists on channel 1; none: no preset is known.
    std::function<bool(int)> presetKnown;
};

} // namespace quillon
