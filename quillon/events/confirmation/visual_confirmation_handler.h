#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "quillon/core/message_receiver.h"
#include "quillon/events/producer/stream_objects_event.h"

namespace quillon
{

// Publishes the tracker's per-scene status for clients that draw over the
// video: each AnalyzedVideoMessage becomes one streamObjects event with the
// scene's time (status_text.h). The event is declared at construction;
// stopping (prepareToShutdown, destruction) sends the empty frame and
// undeclares.
//
// Threads: created and subscribed by the TrackerService on the bus thread
// (or the main thread); handleMessage runs on the bus thread; stop may come
// from the main thread at shutdown. `lock_` serialises the event's use
// between the two; debugView_ is atomic.
class VisualConfirmationHandler : public MessageReceiver
{
public:
    // `debugView`: the service's debug flag; later debug_mode_t messages
    // switch it.
    explicit VisualConfirmationHandler(bool debugView);
    ~VisualConfirmationHandler() override;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;

    // Debug view: every object is reported, with colours and type names.
    bool debugView() const { return debugView_; }

private:
    void stop();

    std::atomic<bool> debugView_;
    std::mutex lock_; // guards stream_
    StreamObjectsEvent stream_;
};

} // namespace quillon
