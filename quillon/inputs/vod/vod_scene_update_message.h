#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "quillon/core/message.h"
#include "quillon/inputs/vod/vod_object.h"

namespace quillon
{

// Actions of a detection-feed tracker event.
enum VodEventAction : std::int32_t {
    kVodEventDelete = 0,
    kVodEventConnect = 1,
};

// A track was deleted, or connected to the listed tracks.
struct VodEvent {
    std::int32_t action = kVodEventDelete;
    std::int32_t objectId = 0;
    std::set<std::int32_t> objectIds;
};

// One analysed frame of the detection feed, filtered by object class: one
// VodObject per detection id (the first detection of an id wins) and the
// tracker events. Made on the feed thread, read-only once posted.
class VodSceneUpdateMessage : public Message
{
public:
    std::int64_t sceneTimeUs = 0;
    std::map<std::int32_t, VodObject> objects;
    std::vector<VodEvent> events;
    // Counts the client's subscriptions: a new value means the feed
    // started again and its ids name new objects.
    std::uint64_t subscription = 0;
    // Monotonic clock (µs) when the frame was decoded.
    std::int64_t decodedAtUs = 0;
};

} // namespace quillon
