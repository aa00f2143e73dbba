#pragma once

#include <mutex>

#include "quillon/config/settings/application_settings.h"
#include "quillon/config/settings/product_settings.h"
#include "quillon/config/settings/settings_file.h"
#include "quillon/config/settings/tracker_settings.h"

namespace quillon
{

// The process-wide holders, one per file, created and loaded on first use
// (thread-safe) and destroyed at process exit.
SettingsFile<ApplicationSettings>& applicationSettingsFile(); // "application.conf"
SettingsFile<TrackerSettings>& trackerSettingsFile();         // "settings.conf"
SettingsFile<ProductSettings>& productSettingsFile();         // "product.conf"

// Held while the JSON API changes or reads the records and while publishAll
// reads them, so that a change on the API thread and a publish on the bus
// thread never overlap. Other threads that read record values take it too.
// Loading a holder does not take it.
std::mutex& settingsMutex();

// Publishes the current tracker settings, then the product settings, then
// every zone profile (loading each on first use), so that newly created
// receivers get the configuration. Defined with the zone-profile holder
// (quillon/config/zones/zone_profiles_file.cpp, library quillon_zones).
void publishAll();

} // namespace quillon
