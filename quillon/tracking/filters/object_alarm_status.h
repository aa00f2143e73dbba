#pragma once

#include <cstdint>

namespace quillon
{

// One tracking candidate of a scene: an object in a trigger zone (with the
// zone's preset) or picked by the temporary zone (zone and preset -1).
struct ObjectAlarmStatus {
    std::int32_t objectId = -1;
    std::int32_t zoneId = -1;
    std::int32_t preset = -1;

    bool operator==(const ObjectAlarmStatus&) const = default;
};

} // namespace quillon
