#include "quillon/config/zones/zone_profiles_file.h"

#include "quillon/config/settings/settings_files.h"

namespace quillon
{

SettingsFile<ZoneProfileStore>& zoneProfilesFile()
{
    static SettingsFile<ZoneProfileStore> file("profiles.conf");
    return file;
}

std::mutex& zoneProfilesMutex()
{
    static std::mutex mutex;
    return mutex;
}

void setZoneProfileMaximum(int maximum)
{
    auto& file = zoneProfilesFile();
    std::lock_guard<std::mutex> hold(zoneProfilesMutex());
    file.settings().setMaximum(maximum);
}

int setZoneProfileEnabled(int id, bool enabled)
{
    auto& file = zoneProfilesFile();
    std::lock_guard<std::mutex> hold(zoneProfilesMutex());
    const int set = file.settings().setEnabled(id, enabled);
    // Written at once, as an API edit is: the change must survive a restart.
    if (set == 1)
        file.save();
    return set;
}

void publishAll()
{
    auto& tracker = trackerSettingsFile();
    auto& product = productSettingsFile();
    auto& zones = zoneProfilesFile();
    {
        std::lock_guard<std::mutex> hold(settingsMutex());
        tracker.settings().publish();
        product.settings().publish();
    }
    std::lock_guard<std::mutex> hold(zoneProfilesMutex());
    zones.settings().publish();
}

} // namespace quillon
