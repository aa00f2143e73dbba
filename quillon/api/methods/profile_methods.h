#pragma once

#include "quillon/api/methods/method_table.h"
#include "quillon/config/zones/zone_edit_context.h"

namespace quillon
{

// addProfile, updateProfile, deleteProfile and getProfile: the zone-profile
// store's operations with the save of "profiles.conf" after every change.
void addProfileMethods(MethodTable& table);

// The daemon's current state as the zone operations need it: the
// application's "active" flag, the camera position, the picture format and
// channel 1's presets. Takes (and releases) settingsMutex().
ZoneEditContext currentZoneEditContext();

// Adds "profiles" (every zone in picture coordinates) to `out`. Without a
// camera position the zones are listed without "px_polygon".
int listZoneProfiles(json_object* out);

} // namespace quillon
