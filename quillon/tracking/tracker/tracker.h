#pragma once

#include <memory>

#include "quillon/core/message_receiver.h"

namespace quillon
{

class TrackingProfile;

// The controller of the daemon: one instance, for camera channel 1, created by
// the TrackerService with the debug flag while tracking is on, subscribed on
// the bus. Owned by the TrackerService; handleMessage runs on the bus thread.
//
// For now it holds its identity and its default zone profile (built with the
// debug flag, then every setting and zone is published again so that the
// profile's filters and zones receive them); target selection, the control
// law and the camera link attach here. The temporary trigger zone command
// starts the default profile's temporary zone.
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

private:
    int channel_ = 1;
    bool debug_;
    std::shared_ptr<TrackingProfile> defaultProfile_;
};

} // namespace quillon
