#include "quillon/inputs/vod/vod_object_class_settings.h"

#include <fmt/format.h>

#include "quillon/config/settings/json_values.h"
#include "quillon/config/settings/settings_file.h"
#include "quillon/core/log.h"

namespace quillon
{

namespace
{

constexpr const char* kSection = "VodObjectClassSettings";
constexpr const char* kClasses = "ObjectClasses";

} // namespace

std::string describe(const VodObjectType& type)
{
    return fmt::format("VOD: id:{}: name:{}, threshold:{} human:{} enabled:{}", type.id, type.name,
                       type.threshold, type.human, type.enabled);
}

VodObjectClassSettings::VodObjectClassSettings(std::string fileName)
    : fileName_(std::move(fileName))
{
}

bool VodObjectClassSettings::load()
{
    json::JsonPtr root = json::parse(readSettingsText(fileName_));
    if (!root) {
        quillonLog(LOG_INFO, "VOD Settings file %s not found\n", fileName_.c_str());
        return false;
    }
    decode(root.get(), 0);
    return true;
}

void VodObjectClassSettings::decode(json_object* root, int)
{
    json_object* array = json::arrayMember(json::objectMember(root, kSection), kClasses);
    if (array == nullptr)
        return;
    const std::size_t count = json_object_array_length(array);
    if (count > 0)
        classes_.clear();
    for (std::size_t i = 0; i < count; i++) {
        json_object* entry = json_object_array_get_idx(array, i);
        if (!json_object_is_type(entry, json_type_object))
            continue;
        VodObjectType type;
        type.id = json::clampToInt(json::intMember(entry, "id").value_or(-1));
        std::optional<std::string> name = json::stringMember(entry, "name");
        type.threshold = json::clampToInt(json::intMember(entry, "threshold").value_or(-1));
        type.human = json::boolMember(entry, "human").value_or(false);
        type.enabled = json::boolMember(entry, "enabled").value_or(true);
        if (type.id == -1 || !name) {
            quillonLog(LOG_INFO, "Invalid VOD object class\n");
            continue;
        }
        type.name = *name;
        classes_.push_back(std::move(type));
    }
}

void VodObjectClassSettings::encode(json_object* root) const
{
    if (classes_.empty())
        return;
    json_object* array = json_object_new_array();
    for (const VodObjectType& type : classes_) {
        json_object* entry = json_object_new_object();
        json_object_object_add(entry, "id", json_object_new_int(type.id));
        json_object_object_add(entry, "name", json_object_new_string(type.name.c_str()));
        json_object_object_add(entry, "threshold", json_object_new_int(type.threshold));
        json_object_object_add(entry, "human", json_object_new_boolean(type.human));
        json_object_object_add(entry, "enabled", json_object_new_boolean(type.enabled));
        json_object_array_add(array, entry);
    }
    json_object* section = json_object_new_object();
    json_object_object_add(section, kClasses, array);
    json_object_object_add(root, kSection, section);
}

void VodObjectClassSettings::addDefaults()
{
    static const VodObjectType kDefaults[] = {
        {0, "human", -1, true, true},
        {1, "vehicle", -1, false, true},
        {2, "motorcycle_bicycle", -1, false, true},
        {3, "license_plate", -1, false, false},
        {4, "bag", -1, false, false},
        {5, "human_head", -1, false, false},
        {6, "animal", -1, false, false},
    };
    classes_.insert(classes_.end(), std::begin(kDefaults), std::end(kDefaults));
    for (const VodObjectType& type : kDefaults)
        quillonLog(LOG_INFO, "Created default object type: %s\n", describe(type).c_str());
}

bool VodObjectClassSettings::store()
{
    json::JsonPtr root(json_object_new_object());
    encode(root.get());
    return saveSettingsJson(root.get(), fileName_);
}

VodClassMap VodObjectClassSettings::loadOrCreate()
{
    if (!load()) {
        addDefaults();
        store();
        quillonLog(LOG_INFO, "VOD Settings file %s stored\n", fileName_.c_str());
    } else if (classes_.empty()) {
        // Every detection would be dropped: run with the defaults and leave
        // the file for its owner to mend.
        quillonLog(LOG_WARNING, "VOD Settings file %s has no valid object class, using defaults\n",
                   fileName_.c_str());
        addDefaults();
    }
    VodClassMap map;
    for (const VodObjectType& type : classes_)
        map.emplace(type.id, type);
    return map;
}

} // namespace quillon
