#include "quillon/api/methods/command_methods.h"

#include <memory>

#include "quillon/api/methods/api_errors.h"
#include "quillon/api/methods/api_state.h"
#include "quillon/config/geometry/picture_format.h"
#include "quillon/config/settings/json_values.h"
#include "quillon/config/settings/runtime_commands.h"
#include "quillon/core/channel.h"
#include "quillon/core/log.h"

namespace quillon
{

namespace
{

json_object* enabledObject(bool enabled)
{
    json_object* result = json_object_new_object();
    json_object_object_add(result, "enabled", json_object_new_boolean(enabled));
    return result;
}

int getAutotrackingTarget(json_object*, json_object** result)
{
    *result = json_object_new_object();
    json_object_object_add(*result, "targetId", json_object_new_int(apiState().targetId));
    return 0;
}

int setAutotrackingTarget(json_object* params, json_object**)
{
    auto id = json::intMember(params, "targetId");
    if (!id)
        return kApiMissingKey;
    int targetId = json::clampToInt(*id);
    Channel::instance().post(std::make_unique<SetTrackingObjMessage>(targetId));
    apiState().targetId = targetId;
    return 0;
}

int getAutotrackingState(json_object*, json_object** result)
{
    *result = enabledObject(apiState().autoTrackingEnabled);
    return 0;
}

int setAutotrackingState(json_object* params, json_object**)
{
    if (auto enabled = json::boolMember(params, "enabled")) {
        apiState().autoTrackingEnabled = *enabled;
        Channel::instance().postSettings(auto_tracking_state_t{*enabled});
    }
    return 0;
}

int getEventState(json_object*, json_object** result)
{
    *result = enabledObject(apiState().eventStateEnabled);
    return 0;
}

int setEventState(json_object* params, json_object**)
{
    if (auto enabled = json::boolMember(params, "enabled")) {
        apiState().eventStateEnabled = *enabled;
        Channel::instance().postSettings(tracking_event_state_t{*enabled});
    }
    return 0;
}

int getViewportConfig(json_object*, json_object** result)
{
    PictureFormat format = pictureFormat();
    *result = json_object_new_object();
    json_object_object_add(*result, "rotation", json_object_new_int(format.rotation));
    if (format.width >= 1 && format.height >= 1) {
        json_object* resolution = json_object_new_object();
        json_object_object_add(resolution, "width", json_object_new_int(format.width));
        json_object_object_add(resolution, "height", json_object_new_int(format.height));
        json_object_object_add(*result, "resolution", resolution);
    }
    return 0;
}

int setViewportConfig(json_object* params, json_object**)
{
    auto rotation = json::intMember(params, "rotation");
    if (!rotation)
        return kApiMissingKey;
    PictureFormat format = pictureFormat();
    viewport_configuration_t viewport{json::clampToInt(*rotation), 0, 0};
    json_object* resolution = json::objectMember(params, "resolution");
    auto width = json::intMember(resolution, "width");
    auto height = json::intMember(resolution, "height");
    if (width && height && *width >= 1 && *height >= 1) {
        viewport.width = json::clampToInt(*width);
        viewport.height = json::clampToInt(*height);
        format.width = viewport.width;
        format.height = viewport.height;
    }
    format.rotation = viewport.rotation;
    setPictureFormat(format);
    Channel::instance().postSettings(viewport);
    return 0;
}

int setTempZone(json_object* params, json_object**)
{
    int code = 0;
    if (auto zoneType = json::stringMember(params, "zoneType");
        zoneType && *zoneType != "fullscreen") {
        quillonLog(LOG_WARNING, "Warning temp zone type '%s' unknown\n", zoneType->c_str());
        code = kApiBadTempZone;
    }
    temp_trigger_settings_t zone;
    if (auto timeout = json::intMember(params, "timeout")) {
        if (*timeout < 5 || *timeout > 120) {
            quillonLog(LOG_WARNING, "Warning temp zone timeout %d is not allowed\n",
                       json::clampToInt(*timeout));
            code = kApiBadTempZone;
        } else {
            zone.timeout = static_cast<int>(*timeout);
        }
    }
    if (auto preset = json::intMember(params, "gotoPresetFirst"))
        zone.gotoPreset = json::clampToInt(*preset);
    if (auto homeAfter = json::boolMember(params, "gotoHomeAfter"))
        zone.gotoHomeAfter = *homeAfter;
    if (code == 0)
        Channel::instance().postSettings(zone);
    return code;
}

int getSupportedVersions(json_object*, json_object** result)
{
    *result = json_object_new_object();
    json_object* versions = json_object_new_array();
    json_object_array_add(versions, json_object_new_string("1.0"));
    json_object_object_add(*result, "apiVersions", versions);
    return 0;
}

} // namespace

void addCommandMethods(MethodTable& table)
{
    table.add("getAutotrackingTarget", kLevelOperator, getAutotrackingTarget);
    table.add("setAutotrackingTarget", kLevelOperator, setAutotrackingTarget);
    table.add("getAutotrackingState", kLevelOperator, getAutotrackingState);
    table.add("setAutotrackingState", kLevelOperator, setAutotrackingState);
    table.add("getEventState", kLevelOperator, getEventState);
    table.add("setEventState", kLevelOperator, setEventState);
    table.add("getViewportConfig", kLevelAny, getViewportConfig);
    table.add("setViewportConfig", kLevelAny, setViewportConfig);
    table.add("setTempZone", kLevelOperator, setTempZone);
    table.add("getSupportedVersions", kLevelAny, getSupportedVersions);
}

} // namespace quillon
