#include "quillon/config/settings/min_object_size_degrees_settings.h"

namespace quillon
{

MinObjectSizeDegreesSettings::MinObjectSizeDegreesSettings()
    : RecordSettings("minObjectSizeDegrees")
{
}

int MinObjectSizeDegreesSettings::readJson(json_object* parent, int)
{
    json_object* object = json::objectMember(parent, name().c_str());
    if (object == nullptr)
        return kSettingsObjectMissing;
    MinObjectSizeDegrees candidate = value_;
    int code = 0;
    fields::readFloat(object, "width", 0.25, 5.0, 1701, candidate.width, code);
    fields::readFloat(object, "height", 0.25, 5.0, 1702, candidate.height, code);
    fields::readBool(object, "enabled", candidate.enabled);
    if (code == 0)
        value_ = candidate;
    return code;
}

int MinObjectSizeDegreesSettings::toJson(json_object* parent, int)
{
    json_object* object = json_object_new_object();
    json_object_object_add(object, "width", json_object_new_double(value_.width));
    json_object_object_add(object, "height", json_object_new_double(value_.height));
    json_object_object_add(object, "enabled", json_object_new_boolean(value_.enabled));
    json_object_object_add(parent, name().c_str(), object);
    return 0;
}

} // namespace quillon
