#include "quillon/tracking/tracker/tracker.h"

#include "quillon/config/settings/runtime_commands.h"
#include "quillon/config/settings/settings_files.h"
#include "quillon/config/zones/zone_profile_container.h"
#include "quillon/core/message.h"
#include "quillon/tracking/filters/tracking_profile.h"

namespace quillon
{

Tracker::Tracker(bool debug)
    : debug_(debug), defaultProfile_(std::make_shared<TrackingProfile>(1, debug))
{
    publishAll();
}

Tracker::~Tracker() = default;

void Tracker::handleMessage(const std::shared_ptr<Message>& message)
{
    if (auto zone =
            std::dynamic_pointer_cast<TrackerSettingsMessage<temp_trigger_settings_t>>(message)) {
        const temp_trigger_settings_t& value = zone->settings;
        defaultProfile_->startTemporaryZone(value.timeout, value.gotoHomeAfter,
                                            value.preTriggerTime);
    }
}

void Tracker::prepareToShutdown()
{
    // Zone events report disabled and are withdrawn while the bus still runs.
    defaultProfile_->zones()->clear();
}

} // namespace quillon
