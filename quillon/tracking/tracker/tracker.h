#pragma once

#include <memory>

#include "quillon/core/message_receiver.h"

namespace quillon
{

// The controller of the daemon: one instance, for camera channel 1, created by
// the TrackerService with the debug flag while tracking is on, subscribed on
// the bus. Owned by the TrackerService; handleMessage runs on the bus thread.
//
// For now it only holds its identity: target selection, the control law and
// the camera link attach here.
class Tracker : public MessageReceiver
{
public:
    explicit Tracker(bool debug);
    ~Tracker() override;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;

    int channel() const { return channel_; }
    bool debug() const { return debug_; }

private:
    int channel_ = 1;
    bool debug_;
};

} // namespace quillon
