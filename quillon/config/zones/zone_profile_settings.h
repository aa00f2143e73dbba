#pragma once

#include <string>
#include <vector>

#include "quillon/config/geometry/point.h"
#include "quillon/core/message.h"

namespace quillon
{

// One trigger zone as stored: a polygon on the camera's sphere of view in
// pan/tilt degrees (x = pan, y = tilt), so it stays on the same piece of the
// scene whatever the camera's position.
struct ZoneProfileSettings {
    std::vector<Point> points; // 3 to 10 points
    int id = -1;               // 1 ... maximum number of profiles
    std::string name;          // "profile_<id>" when none was given
    int preset = 0;            // preset to use with the zone, -1 = none
    int zoneType = 0;          // stored and reported, not acted on
    bool enabled = true;

    bool operator==(const ZoneProfileSettings&) const = default;
};

// Posted on the bus whenever a stored zone changes. An empty point list
// means that the zone no longer exists.
class ZoneProfileSettingsMessage : public Message
{
public:
    explicit ZoneProfileSettingsMessage(const ZoneProfileSettings& value) : zone(value) {}

    const ZoneProfileSettings zone;
};

} // namespace quillon
