#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quillon/events/producer/declared_event.h"

namespace quillon
{

class EventProducer;

// The "streamObjects" status event: one JSON text ("jsonframe") per analysed
// scene, for clients that draw the tracker's view. Stopping sends one empty
// text with time stamp 0 before undeclaring, so clients clear their drawing.
//
// Threads: owned and used by the VisualConfirmationHandler on the bus
// dispatch thread.
class StreamObjectsEvent
{
public:
    StreamObjectsEvent();
    ~StreamObjectsEvent();
    StreamObjectsEvent(const StreamObjectsEvent&) = delete;
    StreamObjectsEvent& operator=(const StreamObjectsEvent&) = delete;

    void start();
    void stop();
    bool started() const { return session_.started(); }

    // Sends the text when started; `frameTimeUs` is on the monotonic clock.
    void send(const std::string& jsonFrame, int64_t frameTimeUs);

    const std::string& leafName() const { return leafName_; }
    int32_t declarationId() const { return declaration_.id(); }

private:
    std::string leafName_ = "streamObjects";
    DeclaredEvent declaration_;
    EventSession session_{{&declaration_}};
};

} // namespace quillon
