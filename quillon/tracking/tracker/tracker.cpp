#include "quillon/tracking/tracker/tracker.h"

#include <glib.h>

#include "quillon/config/settings/runtime_commands.h"
#include "quillon/config/settings/settings_files.h"
#include "quillon/config/zones/zone_profile_container.h"
#include "quillon/core/channel.h"
#include "quillon/core/message.h"
#include "quillon/tracking/detections/vod_scene_holder.h"
#include "quillon/tracking/filters/tracking_profile.h"

namespace quillon
{

Tracker::Tracker(bool debug)
    : debug_(debug), autoTriggersEvent_(debug),
      defaultProfile_(std::make_shared<TrackingProfile>(1, debug))
{
    vod_ = std::make_shared<VodSceneHolder>(channel_, debug_);
    Channel::instance().subscribe(vod_);
    vod_->start();
    // Scene times are on the monotonic clock.
    autoTriggersEvent_.start();
    autoTriggersEvent_.setEnabled(true, channel_, g_get_monotonic_time());
    trackingStateEvent_.start();
    publishAll();
}

Tracker::~Tracker()
{
    prepareToShutdown();
}

TrackerScene Tracker::vodScene() const
{
    return vod_->snapshot();
}

void Tracker::handleMessage(const std::shared_ptr<Message>& message)
{
    if (handleEventSettings(message))
        return;
    if (auto zone =
            std::dynamic_pointer_cast<TrackerSettingsMessage<temp_trigger_settings_t>>(message)) {
        const temp_trigger_settings_t& value = zone->settings;
        defaultProfile_->startTemporaryZone(value.timeout, value.gotoHomeAfter,
                                            value.preTriggerTime);
    }
}

void Tracker::prepareToShutdown()
{
    vod_->prepareToShutdown();
    Channel::instance().unsubscribe(vod_);
    // Zone events report disabled and are withdrawn while the bus still runs.
    defaultProfile_->zones()->clear();
    if (autoTriggersEvent_.started()) {
        autoTriggersEvent_.setEnabled(false, channel_, g_get_monotonic_time());
        autoTriggersEvent_.stop();
    }
    trackingStateEvent_.setState(false, channel_, g_get_monotonic_time());
    trackingStateEvent_.stop();
}

void Tracker::reportTracking(bool tracking)
{
    trackingStateEvent_.setState(tracking, channel_, g_get_monotonic_time());
}

bool Tracker::handleEventSettings(const std::shared_ptr<Message>& message)
{
    if (auto events =
            std::dynamic_pointer_cast<TrackerSettingsMessage<tracking_event_state_t>>(message)) {
        if (events->settings.enabled)
            trackingStateEvent_.start();
        else
            trackingStateEvent_.stop();
        return true;
    }
    if (auto triggers =
            std::dynamic_pointer_cast<TrackerSettingsMessage<auto_tracking_state_t>>(message)) {
        autoTriggersEvent_.setEnabled(triggers->settings.enabled, channel_, g_get_monotonic_time());
        // The tracker's own handling of the switch follows.
        return false;
    }
    return false;
}

} // namespace quillon
