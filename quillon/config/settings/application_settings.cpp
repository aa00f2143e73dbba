#include "quillon/config/settings/application_settings.h"

namespace quillon
{

ApplicationSettings::ApplicationSettings() : RecordSettings("applicationSettings") {}

int ApplicationSettings::readJson(json_object* parent, int)
{
    auto active = json::boolMember(json::objectMember(parent, "service"), "active");
    if (!active)
        return kSettingsNothingKnown;
    value_.active = *active;
    return 0;
}

int ApplicationSettings::toJson(json_object* parent, int)
{
    json_object* service = json_object_new_object();
    json_object_object_add(service, "active", json_object_new_boolean(value_.active));
    json_object_object_add(service, "version", json_object_new_string(kApplicationVersion));
    json_object_object_add(parent, "service", service);
    return 0;
}

} // namespace quillon
