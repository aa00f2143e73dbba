#include "quillon/config/settings/visual_conf_colors_settings.h"

#include "quillon/config/settings/json_values.h"

namespace quillon
{

VisualConfColorsSettings::VisualConfColorsSettings()
    : CopyableSettings("svgFrameColours"), combinations_{{1, "#ed1a3b", "#8dc63f"},
                                                         {2, "#ffc300", "#3dc8ff"}}
{
}

int VisualConfColorsSettings::readJson(json_object* parent, int source)
{
    json_object* object = json::objectMember(parent, name().c_str());
    if (object == nullptr)
        return kSettingsObjectMissing;
    int code = 0;

    json_object* list = json::arrayMember(object, "colourCombinations");
    if (source == kFromFile && list != nullptr) {
        combinations_.clear();
        size_t count = json_object_array_length(list);
        for (size_t i = 0; i < count; ++i) {
            json_object* element = json_object_array_get_idx(list, i);
            auto id = json::intMember(element, "id");
            auto tracked = json::stringMember(element, "tracked");
            auto other = json::stringMember(element, "default");
            if (!id || !tracked || !other)
                continue;
            combinations_.push_back({json::clampToInt(*id), *tracked, *other});
        }
    }

    auto known = [&](int64_t id) {
        for (const auto& combination : combinations_) {
            if (combination.id == id)
                return true;
        }
        return false;
    };
    auto active = json::intMember(object, "activeId");
    if (active && known(*active)) {
        activeId_ = static_cast<int>(*active);
    } else if (active || (!combinations_.empty() && !known(activeId_))) {
        // Also when a new list from a file drops the active combination.
        code = 1201;
        if (!combinations_.empty())
            activeId_ = combinations_.front().id;
    }

    if (auto highlight = json::boolMember(object, "highlightObjects"))
        highlightObjects_ = *highlight;
    // Checked whether or not the key is present: a file may empty the list.
    if (highlightObjects_ && combinations_.empty()) {
        highlightObjects_ = false;
        code = 1202;
    }
    return code;
}

int VisualConfColorsSettings::toJson(json_object* parent, int)
{
    json_object* object = json_object_new_object();
    json_object* list = json_object_new_array();
    for (const auto& combination : combinations_) {
        json_object* element = json_object_new_object();
        json_object_object_add(element, "id", json_object_new_int(combination.id));
        json_object_object_add(
            element, "tracked",
            json_object_new_string_len(combination.tracked.data(),
                                       static_cast<int>(combination.tracked.size())));
        json_object_object_add(
            element, "default",
            json_object_new_string_len(combination.defaultColour.data(),
                                       static_cast<int>(combination.defaultColour.size())));
        json_object_array_add(list, element);
    }
    json_object_object_add(object, "colourCombinations", list);
    json_object_object_add(object, "activeId", json_object_new_int(activeId_));
    json_object_object_add(object, "highlightObjects", json_object_new_boolean(highlightObjects_));
    json_object_object_add(parent, name().c_str(), object);
    return 0;
}

} // namespace quillon
