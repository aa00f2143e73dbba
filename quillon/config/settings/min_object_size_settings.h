#pragma once

#include "quillon/config/settings/record_settings.h"
#include "quillon/config/settings/settings_types.h"

namespace quillon
{

// "minObjectSize": "width" 3-25 (1301), "height" 3-25 (1302), "enabled".
class MinObjectSizeSettings : public RecordSettings<MinObjectSizeSettings, min_object_size_t>
{
public:
    MinObjectSizeSettings();

    int readJson(json_object* parent, int source) override;
    int toJson(json_object* parent, int target) override;
};

} // namespace quillon
