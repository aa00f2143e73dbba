#pragma once

#include <memory>

#include "quillon/core/message_receiver.h"
#include "quillon/events/producer/state_event_handler.h"
#include "quillon/tracking/objects/tracker_scene.h"

namespace quillon
{

class TrackingProfile;
class VodSceneHolder;

// The controller of the daemon: one instance, for camera channel 1, created by
// the TrackerService with the debug flag while tracking is on, subscribed on
// the bus. Owned by the TrackerService; handleMessage runs on the bus thread.
//
// It announces its state as camera events: AutoTriggers (declared at
// construction with autoTriggersEnabled true, false and undeclared at
// shutdown) and AutotrackingState (switched on and off by
// tracking_event_state_t). It owns the store of channel 1's detections (a
// VodSceneHolder, subscribed on the bus and started with the Tracker, stopped
// by prepareToShutdown). It builds its default zone profile with the debug
// flag and then publishes every setting and zone again, so that the profile's
// filters and zones receive them; the temporary trigger zone command starts
// that profile's temporary zone. Target selection, the control law and the
// camera link attach here.
class Tracker : public MessageReceiver
{
public:
    explicit Tracker(bool debug);
    ~Tracker() override;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;

    int channel() const { return channel_; }
    bool debug() const { return debug_; }
    // Zone profile used for target selection (id 1): its filters and trigger
    // zones follow the settings and the zone-profile store through the bus.
    const std::shared_ptr<TrackingProfile>& defaultProfile() const { return defaultProfile_; }

    // Publishes tracking on or off (when the state event is enabled).
    void reportTracking(bool tracking);
    // A copy of the detection store (any thread).
    TrackerScene vodScene() const;
    const std::shared_ptr<VodSceneHolder>& vodHolder() const { return vod_; }

private:
    // The event settings of handleMessage; true when the message was one.
    bool handleEventSettings(const std::shared_ptr<Message>& message);

    int channel_ = 1;
    bool debug_;
    AutotrackingEnabledEventHandler autoTriggersEvent_;
    AutotrackingStateEventHandler trackingStateEvent_;
    std::shared_ptr<TrackingProfile> defaultProfile_;
    std::shared_ptr<VodSceneHolder> vod_;
};

} // namespace quillon
