#include "quillon/config/settings/settings_files.h"

namespace quillon
{

SettingsFile<ApplicationSettings>& applicationSettingsFile()
{
    static SettingsFile<ApplicationSettings> file("application.conf");
    return file;
}

SettingsFile<TrackerSettings>& trackerSettingsFile()
{
    static SettingsFile<TrackerSettings> file("settings.conf");
    return file;
}

SettingsFile<ProductSettings>& productSettingsFile()
{
    static SettingsFile<ProductSettings> file("product.conf");
    return file;
}

std::mutex& settingsMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace quillon
