#include "quillon/config/settings/tracker_settings.h"

namespace quillon
{

TrackerSettings::TrackerSettings()
    : CopyableSettings("trackerSettings"),
      maxObjectSpeed_(std::make_shared<MaxObjectSpeedSettings>()),
      minObjectLifespan_(std::make_shared<MinObjectLifespanSettings>()),
      minObjectSize_(std::make_shared<MinObjectSizeSettings>()),
      minObjectSizeDegrees_(std::make_shared<MinObjectSizeDegreesSettings>()),
      svgFrameColours_(std::make_shared<VisualConfColorsSettings>()),
      trackingParams_(std::make_shared<TrackingParamsSettings>())
{
    addChild(maxObjectSpeed_);
    addChild(minObjectLifespan_);
    addChild(minObjectSize_);
    addChild(minObjectSizeDegrees_);
    addChild(svgFrameColours_);
    addChild(trackingParams_);
}

void TrackerSettings::publish()
{
    minObjectSize_->publish();
    minObjectSizeDegrees_->publish();
    maxObjectSpeed_->publish();
    minObjectLifespan_->publish();
    svgFrameColours_->publish();
    trackingParams_->publish();
}

} // namespace quillon
