#include "quillon/config/settings/max_object_speed_settings.h"

namespace quillon
{

MaxObjectSpeedSettings::MaxObjectSpeedSettings() : RecordSettings("maxObjectSpeed") {}

int MaxObjectSpeedSettings::readJson(json_object* parent, int)
{
    json_object* object = json::objectMember(parent, name().c_str());
    if (object == nullptr)
        return kSettingsObjectMissing;
    max_object_speed_t candidate = value_;
    int code = 0;
    fields::readInt(object, "lowSpeed", 0, 99, 1501, candidate.lowSpeed, code);
    fields::readInt(object, "highSpeed", 0, 999, 1502, candidate.highSpeed, code);
    fields::readBool(object, "enabled", candidate.enabled);
    if (code == 0)
        value_ = candidate;
    return code;
}

int MaxObjectSpeedSettings::toJson(json_object* parent, int)
{
    json_object* object = json_object_new_object();
    json_object_object_add(object, "lowSpeed", json_object_new_int(value_.lowSpeed));
    json_object_object_add(object, "highSpeed", json_object_new_int(value_.highSpeed));
    json_object_object_add(object, "enabled", json_object_new_boolean(value_.enabled));
    json_object_object_add(parent, name().c_str(), object);
    return 0;
}

} // namespace quillon
