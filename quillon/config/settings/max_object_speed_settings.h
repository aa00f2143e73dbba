#pragma once

#include "quillon/config/settings/record_settings.h"
#include "quillon/config/settings/settings_types.h"

namespace quillon
{

// "maxObjectSpeed": "lowSpeed" 0-99 (1501), "highSpeed" 0-999 (1502), "enabled".
class MaxObjectSpeedSettings : public RecordSettings<MaxObjectSpeedSettings, max_object_speed_t>
{
public:
    MaxObjectSpeedSettings();

    int readJson(json_object* parent, int source) override;
    int toJson(json_object* parent, int target) override;
};

} // namespace quillon
