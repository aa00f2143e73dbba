#include "quillon/config/settings/general_settings.h"

#include "quillon/config/settings/json_values.h"

namespace quillon
{

GeneralSettings::GeneralSettings(std::string name) : name_(std::move(name)) {}

GeneralSettings::~GeneralSettings() = default;

int GeneralSettings::fromJson(json_object* parent, int source, json_object* errors)
{
    if (children_.empty()) {
        int code = readJson(parent, source);
        if (code == 0)
            publish();
        return code;
    }
    bool anyPresent = false;
    for (auto& [childName, record] : children_) {
        if (!json::hasKey(parent, childName.c_str()))
            continue;
        anyPresent = true;
        int code = record->fromJson(parent, source, errors);
        if (code != 0)
            return code;
    }
    return anyPresent ? 0 : kSettingsNothingKnown;
}

int GeneralSettings::toJson(json_object* parent, int target)
{
    if (children_.empty())
        return kSettingsNothingKnown;
    for (auto& [childName, record] : children_) {
        int code = record->toJson(parent, target);
        if (code != 0)
            return code;
    }
    return 0;
}

void GeneralSettings::publish()
{
    for (auto& [childName, record] : children_)
        record->publish();
}

int GeneralSettings::readJson(json_object*, int)
{
    return kSettingsNothingKnown;
}

std::shared_ptr<GeneralSettings> GeneralSettings::child(const std::string& childName) const
{
    auto found = children_.find(childName);
    return found == children_.end() ? nullptr : found->second;
}

void GeneralSettings::addChild(std::shared_ptr<GeneralSettings> record)
{
    std::string key = record->name();
    children_.emplace(std::move(key), std::move(record));
}

} // namespace quillon
