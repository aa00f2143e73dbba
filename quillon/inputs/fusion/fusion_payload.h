#pragma once

#include <cstdint>
#include <string_view>

#include "quillon/inputs/fusion/fusion_classes.h"
#include "quillon/tracking/objects/tracker_scene.h"

namespace quillon
{

// Scene time (µs) of a broker time stamp, in 64-bit arithmetic.
std::int64_t fusionSceneTimeUs(std::int64_t seconds, std::int64_t nanoseconds);

// Turns one analytics payload (JSON text of `payload.size()` bytes) into a
// scene at `sceneTimeUs`: one visible object (source 3) per observation of
// "frame"."observations" whose class is in `classes`, its box converted from
// picture to device coordinates at `rotation` (-1 reads as 0).
//
// Bad input loses only itself, with a warning: a payload that is not JSON or
// has no observation array gives false (no scene); an observation with a
// missing or mistyped field, a "track_id" that is not a non-negative decimal
// int32, a score outside [0, 1] or a non-finite box is skipped. Unknown
// classes are skipped with "Unknown object type %s\n" (silently when empty).
bool parseFusionPayload(std::string_view payload, std::int64_t sceneTimeUs, int rotation,
                        const FusionClassTable& classes, TrackerScene& out);

} // namespace quillon
