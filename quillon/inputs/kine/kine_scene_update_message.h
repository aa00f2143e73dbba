#pragma once

#include <cstdint>

#include "quillon/core/message.h"
#include "quillon/tracking/objects/scene_update.h"

namespace quillon
{

// One decoded scene-feed message: scene time (µs), the KineObjects and the
// events, in wire order. Made on the feed thread, read-only once posted.
class KineSceneUpdateMessage : public Message
{
public:
    KineSceneUpdate update;
    // Monotonic clock (µs) when the message was decoded.
    std::int64_t decodedAtUs = 0;
};

} // namespace quillon
