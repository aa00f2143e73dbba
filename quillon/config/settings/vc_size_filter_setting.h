#pragma once

#include "quillon/config/settings/record_settings.h"
#include "quillon/config/settings/settings_types.h"

namespace quillon
{

// "vcSizeFilter": "enabled" of the overlay size filter.
class VcSizeFilterSetting : public RecordSettings<VcSizeFilterSetting, vc_size_filter_t>
{
public:
    VcSizeFilterSetting();

    int readJson(json_object* parent, int source) override;
    int toJson(json_object* parent, int target) override;
};

} // namespace quillon
