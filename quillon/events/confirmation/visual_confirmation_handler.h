#pragma once

#include <atomic>
#include <memory>

#include "quillon/core/message_receiver.h"

namespace quillon
{

// Publishes the tracker's per-scene status for clients that draw over the
// video. Created and subscribed by the TrackerService while tracking is on;
// handleMessage runs on the bus thread.
class VisualConfirmationHandler : public MessageReceiver
{
public:
    VisualConfirmationHandler();
    ~VisualConfirmationHandler() override;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;

    // Debug view: every object is reported, with colours and type names.
    // True after construction, then follows the debug_mode_t messages.
    bool debugView() const { return debugView_; }

private:
    std::atomic<bool> debugView_{true};
};

} // namespace quillon
