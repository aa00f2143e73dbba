#pragma once

#include "quillon/config/settings/record_settings.h"
#include "quillon/config/settings/settings_types.h"

namespace quillon
{

// "trackingParams": time to home, zoom limits, profile limit, tracker
// strategy and return preset. Absent "timeoutToHome", "returnToPreset",
// "maxProfileNumber" and "trackerType" keep their values; absent zoom limits
// fall back to 8 (high, after the legacy int key "zoomLimit") and 1 (low).
class TrackingParamsSettings : public RecordSettings<TrackingParamsSettings, TrackingParams>
{
public:
    TrackingParamsSettings();

    int readJson(json_object* parent, int source) override;
    int toJson(json_object* parent, int target) override;
};

} // namespace quillon
