#include "quillon/api/methods/settings_methods.h"

#include <utility>
#include <vector>

#include "quillon/api/methods/api_errors.h"
#include "quillon/api/methods/profile_methods.h"
#include "quillon/config/settings/json_values.h"
#include "quillon/config/settings/settings_files.h"

namespace quillon
{

int applySettingsChange(GeneralSettings& record, json_object* params)
{
    std::vector<std::pair<std::shared_ptr<GeneralSettings>, std::shared_ptr<GeneralSettings>>>
        changes;
    for (const auto& [name, child] : record.children()) {
        if (!json::hasKey(params, name.c_str()))
            continue;
        auto candidate = child->clone();
        int code = candidate->readJson(params, kFromApi);
        if (code != 0)
            return code;
        changes.emplace_back(child, std::move(candidate));
    }
    if (changes.empty())
        return kApiNothingKnown;
    for (auto& [child, candidate] : changes) {
        child->assign(*candidate);
        child->publish();
    }
    return 0;
}

namespace
{

int getApplicationSettings(json_object*, json_object** result)
{
    auto& file = applicationSettingsFile();
    std::lock_guard<std::mutex> hold(settingsMutex());
    *result = json_object_new_object();
    return file.settings().toJson(*result, kToApi);
}

int setApplicationSettings(json_object* params, json_object**)
{
    auto& file = applicationSettingsFile();
    std::lock_guard<std::mutex> hold(settingsMutex());
    ApplicationSettings copy = file.settings();
    int code = copy.fromJson(params, kFromApi, nullptr);
    if (code != 0)
        return code;
    file.settings() = copy;
    return file.save() ? 0 : kApiSaveFailed;
}

int getAutotrackingSettings(json_object*, json_object** result)
{
    auto& file = trackerSettingsFile();
    *result = json_object_new_object();
    {
        std::lock_guard<std::mutex> hold(settingsMutex());
        if (int code = file.settings().toJson(*result, kToApi))
            return code;
    }
    return listZoneProfiles(*result);
}

template <typename T> int setChildren(SettingsFile<T>& file, json_object* params)
{
    std::lock_guard<std::mutex> hold(settingsMutex());
    int code = applySettingsChange(file.settings(), params);
    if (code == 0 && !file.save())
        return kApiSaveFailed;
    return code;
}

} // namespace

void addSettingsMethods(MethodTable& table)
{
    table.add("getApplicationSettings", kLevelOperator, getApplicationSettings);
    table.add("setApplicationSettings", kLevelOperator, setApplicationSettings);
    table.add("getAutotrackingSettings", kLevelAny, getAutotrackingSettings);
    table.add("setAutotrackingSettings", kLevelOperator, [](json_object* params, json_object**) {
        return setChildren(trackerSettingsFile(), params);
    });
    auto setProduct = [](json_object* params, json_object**) {
        return setChildren(productSettingsFile(), params);
    };
    table.add("setProductConfig", kLevelAdmin, setProduct);
    table.add("setAutotrackingPid", kLevelAdmin, setProduct);
}

} // namespace quillon
