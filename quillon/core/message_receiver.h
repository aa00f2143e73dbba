#pragma once

#include <memory>

namespace quillon
{

class Message;

// A subscriber of the bus. handleMessage runs on the bus dispatch thread for
// every message delivered while the receiver is subscribed; types a receiver
// does not handle are ignored. handleMessage must not throw.
//
// prepareToShutdown is called by the receiver's owner (never by the bus)
// before it unsubscribes and releases the receiver: it stops the timers,
// workers and subscriptions the receiver holds.
class MessageReceiver
{
public:
    MessageReceiver() = default;
    virtual ~MessageReceiver() = default;
    MessageReceiver(const MessageReceiver&) = delete;
    MessageReceiver& operator=(const MessageReceiver&) = delete;

    virtual void handleMessage(const std::shared_ptr<Message>& message) = 0;
    virtual void prepareToShutdown() = 0;
};

} // namespace quillon
