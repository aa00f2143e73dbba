#pragma once

#include "quillon/tracking/objects/tracker_scene.h"

namespace quillon
{

class VodPositionSource;
class VodSceneUpdateMessage;

// Folds one detection frame into the stored scene `previous` and returns the
// scene that replaces it: detected objects are refreshed (with a motion
// sample when positions are known, and a velocity in device units per second
// between their last two detections), missed ones carried over as lost until
// 30 s after their last detection, deleted ones dropped, new ones added; the
// tracked id follows the feed's id changes. `positions` may be null.
TrackerScene updateVodStorage(const TrackerScene& previous, const VodSceneUpdateMessage& update,
                              VodPositionSource* positions);

} // namespace quillon
