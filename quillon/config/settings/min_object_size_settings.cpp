#include "quillon/config/settings/min_object_size_settings.h"

namespace quillon
{

MinObjectSizeSettings::MinObjectSizeSettings() : RecordSettings("minObjectSize") {}

int MinObjectSizeSettings::readJson(json_object* parent, int)
{
    json_object* object = json::objectMember(parent, name().c_str());
    if (object == nullptr)
        return kSettingsObjectMissing;
    min_object_size_t candidate = value_;
    int code = 0;
    fields::readInt(object, "width", 3, 25, 1301, candidate.width, code);
    fields::readInt(object, "height", 3, 25, 1302, candidate.height, code);
    fields::readBool(object, "enabled", candidate.enabled);
    if (code == 0)
        value_ = candidate;
    return code;
}

int MinObjectSizeSettings::toJson(json_object* parent, int)
{
    json_object* object = json_object_new_object();
    json_object_object_add(object, "width", json_object_new_int(value_.width));
    json_object_object_add(object, "height", json_object_new_int(value_.height));
    json_object_object_add(object, "enabled", json_object_new_boolean(value_.enabled));
    json_object_object_add(parent, name().c_str(), object);
    return 0;
}

} // namespace quillon
