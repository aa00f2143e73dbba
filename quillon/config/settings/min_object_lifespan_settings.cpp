#include "quillon/config/settings/min_object_lifespan_settings.h"

namespace quillon
{

MinObjectLifespanSettings::MinObjectLifespanSettings() : RecordSettings("minObjectLifespan") {}

int MinObjectLifespanSettings::readJson(json_object* parent, int)
{
    json_object* object = json::objectMember(parent, name().c_str());
    if (object == nullptr)
        return kSettingsObjectMissing;
    min_object_lifespan_t candidate = value_;
    int code = 0;
    fields::readInt(object, "time", 1, 5, 1401, candidate.time, code);
    fields::readBool(object, "enabled", candidate.enabled);
    if (code == 0)
        value_ = candidate;
    return code;
}

int MinObjectLifespanSettings::toJson(json_object* parent, int)
{
    json_object* object = json_object_new_object();
    json_object_object_add(object, "time", json_object_new_int(value_.time));
    json_object_object_add(object, "enabled", json_object_new_boolean(value_.enabled));
    json_object_object_add(parent, name().c_str(), object);
    return 0;
}

} // namespace quillon
