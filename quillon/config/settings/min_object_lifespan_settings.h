#pragma once

#include "quillon/config/settings/record_settings.h"
#include "quillon/config/settings/settings_types.h"

namespace quillon
{

// "minObjectLifespan": "time" in seconds 1-5 (1401), "enabled".
class MinObjectLifespanSettings
    : public RecordSettings<MinObjectLifespanSettings, min_object_lifespan_t>
{
public:
    MinObjectLifespanSettings();

    int readJson(json_object* parent, int source) override;
    int toJson(json_object* parent, int target) override;
};

} // namespace quillon
