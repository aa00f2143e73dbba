#include "quillon/config/settings/vc_size_filter_setting.h"

namespace quillon
{

VcSizeFilterSetting::VcSizeFilterSetting() : RecordSettings("vcSizeFilter") {}

int VcSizeFilterSetting::readJson(json_object* parent, int)
{
    json_object* object = json::objectMember(parent, name().c_str());
    if (object == nullptr)
        return kSettingsObjectMissing;
    fields::readBool(object, "enabled", value_.enabled);
    return 0;
}

int VcSizeFilterSetting::toJson(json_object* parent, int)
{
    json_object* object = json_object_new_object();
    json_object_object_add(object, "enabled", json_object_new_boolean(value_.enabled));
    json_object_object_add(parent, name().c_str(), object);
    return 0;
}

} // namespace quillon
