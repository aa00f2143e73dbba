#pragma once

#include <cstdint>

#include "quillon/inputs/vod/vod_object_type.h"
#include "quillon/tracking/detections/vod_scene_holder.h"

namespace quillon
{

// Logs the store of detected objects (info level): the store listing, one
// line for the scene (frame rate, age of the last frame, visible, confident
// and moving counts, tracked id, whether camera positions are known) and one
// line per object.
void printVodView(const TrackerScene& scene, const VodSceneHolder::FeedStats& stats,
                  const VodClassMap& classes, bool positions, std::int64_t nowUs);

} // namespace quillon
