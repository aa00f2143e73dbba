#pragma once

#include <cstdint>
#include <memory>

#include "quillon/tracking/objects/tracking_object.h"

namespace quillontest
{

// A confident scene-engine object with a box in device coordinates, first
// seen at `firstSeenUs` and seen last at `newestUs`.
inline std::shared_ptr<quillon::TrackingObject> boxObject(int id, float x1, float y1, float x2,
                                                          float y2, std::int64_t firstSeenUs = 0,
                                                          std::int64_t newestUs = 0)
{
    auto object = std::make_shared<quillon::KineObject>();
    object->source = quillon::kSourceScene;
    object->id = id;
    object->shape = quillon::Polygon::box(x1, x2, y1, y2);
    object->setTime(firstSeenUs);
    object->setTime(newestUs > firstSeenUs ? newestUs : firstSeenUs);
    object->setConfidence(5);
    object->flags = quillon::kFlagReported;
    return object;
}

} // namespace quillontest
