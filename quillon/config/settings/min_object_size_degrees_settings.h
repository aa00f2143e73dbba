#pragma once

#include "quillon/config/settings/record_settings.h"
#include "quillon/config/settings/settings_types.h"

namespace quillon
{

// "minObjectSizeDegrees": "width" and "height" in degrees as doubles, 0.25-5
// (1701, 1702), "enabled".
class MinObjectSizeDegreesSettings
    : public RecordSettings<MinObjectSizeDegreesSettings, MinObjectSizeDegrees>
{
public:
    MinObjectSizeDegreesSettings();

    int readJson(json_object* parent, int source) override;
    int toJson(json_object* parent, int target) override;
};

} // namespace quillon
