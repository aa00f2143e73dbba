#pragma once

#include <memory>

#include "quillon/config/settings/general_settings.h"
#include "quillon/config/settings/max_object_speed_settings.h"
#include "quillon/config/settings/min_object_lifespan_settings.h"
#include "quillon/config/settings/min_object_size_degrees_settings.h"
#include "quillon/config/settings/min_object_size_settings.h"
#include "quillon/config/settings/tracking_params_settings.h"
#include "quillon/config/settings/visual_conf_colors_settings.h"

namespace quillon
{

// "trackerSettings", the content of "settings.conf": the object filters, the
// overlay colours and the tracking parameters, as six child records. Copies
// share the child records.
class TrackerSettings : public CopyableSettings<TrackerSettings>
{
public:
    TrackerSettings();

    // Publishes the children in the order the tracker expects them.
    void publish() override;

    const std::shared_ptr<MaxObjectSpeedSettings>& maxObjectSpeed() const
    {
        return maxObjectSpeed_;
    }
    const std::shared_ptr<MinObjectLifespanSettings>& minObjectLifespan() const
    {
        return minObjectLifespan_;
    }
    const std::shared_ptr<MinObjectSizeSettings>& minObjectSize() const { return minObjectSize_; }
    const std::shared_ptr<MinObjectSizeDegreesSettings>& minObjectSizeDegrees() const
    {
        return minObjectSizeDegrees_;
    }
    const std::shared_ptr<VisualConfColorsSettings>& svgFrameColours() const
    {
        return svgFrameColours_;
    }
    const std::shared_ptr<TrackingParamsSettings>& trackingParams() const
    {
        return trackingParams_;
    }

private:
    std::shared_ptr<MaxObjectSpeedSettings> maxObjectSpeed_;
    std::shared_ptr<MinObjectLifespanSettings> minObjectLifespan_;
    std::shared_ptr<MinObjectSizeSettings> minObjectSize_;
    std::shared_ptr<MinObjectSizeDegreesSettings> minObjectSizeDegrees_;
    std::shared_ptr<VisualConfColorsSettings> svgFrameColours_;
    std::shared_ptr<TrackingParamsSettings> trackingParams_;
};

} // namespace quillon
