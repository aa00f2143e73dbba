#pragma once

#include <mutex>

#include "quillon/config/settings/settings_file.h"
#include "quillon/config/zones/zone_profile_store.h"

namespace quillon
{

// The process-wide holder of "profiles.conf", created and loaded on first use
// (thread-safe; loading publishes every zone) and destroyed at exit.
SettingsFile<ZoneProfileStore>& zoneProfilesFile();

// Held around every operation on the store: the API's copy-and-replace
// together with its save (endpoint thread), setting a zone's enabled flag
// (event-listener thread), publishAll (bus thread) and setting the maximum
// (service worker). Always obtain zoneProfilesFile() before taking it, so
// that the first load (which runs inside the holder's construction) never
// waits for a thread that holds the lock. Never held together with
// settingsMutex().
std::mutex& zoneProfilesMutex();

// Sets the maximum number of zones (the service worker, after loading
// "settings.conf" and "profiles.conf"). Zones beyond it are kept.
void setZoneProfileMaximum(int maximum);

// The zone activation event: 1 when zone `id` exists and was set (the file
// is then saved), else 0.
int setZoneProfileEnabled(int id, bool enabled);

} // namespace quillon
