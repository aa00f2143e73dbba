#include "quillon/api/methods/profile_methods.h"

#include <mutex>

#include "quillon/config/settings/settings_files.h"
#include "quillon/config/zones/zone_profiles_file.h"
#include "quillon/motion/presets/preset_handler.h"
#include "quillon/motion/presets/ptz_presets.h"

namespace quillon
{

ZoneEditContext currentZoneEditContext()
{
    ZoneEditContext context;
    {
        auto& application = applicationSettingsFile();
        std::lock_guard<std::mutex> hold(settingsMutex());
        context.active = application.settings().active();
    }
    context.camera = cameraPosition();
    context.format = pictureFormat();
    // Channel 1's presets as the presets component knows them now.
    if (auto handler = PTZ::presetHandler(1)) {
        context.presetKnown = [presets = handler->presets()](int number) {
            for (const auto& preset : presets)
                if (number >= 0 && preset.number == uint32_t(number))
                    return true;
            return false;
        };
    }
    return context;
}

int listZoneProfiles(json_object* out)
{
    const ZoneEditContext context = currentZoneEditContext();
    auto& file = zoneProfilesFile();
    std::lock_guard<std::mutex> hold(zoneProfilesMutex());
    return file.settings().list(ZoneEncoding::Api, out, context, false);
}

namespace
{

// Runs `edit` on a copy of the store; when it changed the store, the copy
// replaces it and the file is written. The store keeps its state otherwise.
template <typename Edit> int editZoneProfiles(Edit edit)
{
    const ZoneEditContext context = currentZoneEditContext();
    auto& file = zoneProfilesFile();
    std::lock_guard<std::mutex> hold(zoneProfilesMutex());
    ZoneProfileStore copy = file.settings();
    bool changed = false;
    const int code = edit(copy, context, changed);
    if (code == 0 || changed) {
        file.settings().assign(copy);
        file.save();
    }
    return code;
}

int getProfile(json_object* params, json_object** result)
{
    const ZoneEditContext context = currentZoneEditContext();
    auto& file = zoneProfilesFile();
    std::lock_guard<std::mutex> hold(zoneProfilesMutex());
    return file.settings().get(params, result, context);
}

} // namespace

void addProfileMethods(MethodTable& table)
{
    table.add("addProfile", kLevelOperator, [](json_object* params, json_object** result) {
        return editZoneProfiles([&](ZoneProfileStore& store, const ZoneEditContext& context,
                                    bool&) { return store.add(params, result, context); });
    });
    table.add("updateProfile", kLevelOperator, [](json_object* params, json_object**) {
        return editZoneProfiles([&](ZoneProfileStore& store, const ZoneEditContext& context,
                                    bool&) { return store.update(params, context); });
    });
    // A list of ids can fail after deleting its first zones: those deletions
    // were published and are kept in the store and the file.
    table.add("deleteProfile", kLevelOperator, [](json_object* params, json_object**) {
        return editZoneProfiles([&](ZoneProfileStore& store, const ZoneEditContext&,
                                    bool& changed) { return store.remove(params, changed); });
    });
    table.add("getProfile", kLevelAny, getProfile);
}

} // namespace quillon
