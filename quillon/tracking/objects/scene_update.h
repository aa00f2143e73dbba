#pragma once

#include <cstdint>
#include <vector>

#include "quillon/tracking/objects/tracking_object.h"

namespace quillon
{

// Actions of a scene-engine event.
enum KineEventAction : std::int32_t {
    kKineDelete = 0,
    kKineSplit = 1,
    kKineMerge = 2,
};

// One scene-engine event: delete `objectId`; split `objectId` into
// `objectIds`; merge `objectIds` into `objectId`.
struct KineEvent {
    std::int32_t action = kKineDelete;
    std::int32_t objectId = -1;
    std::vector<std::int32_t> objectIds;
};

// One scene-engine update: scene time (µs), the objects and the events.
struct KineSceneUpdate {
    std::int64_t sceneTimeUs = 0;
    std::vector<KineObject> objects;
    std::vector<KineEvent> events;
};

} // namespace quillon
