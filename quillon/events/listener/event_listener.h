#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "quillon/core/message_receiver.h"

namespace quillon
{

// Turns external events (auto-triggers on/off, zone profile activation,
// temporary trigger zones) into bus messages. Created and subscribed by the
// TrackerService; its handleMessage ignores every message.
//
// Holds the event subscriptions it made, by topic leaf name; stop (reached
// through prepareToShutdown and the destructor) drops them all.
class EventListener : public MessageReceiver
{
public:
    EventListener();
    ~EventListener() override;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;

    std::size_t subscriptionCount() const { return subscriptions.size(); }

private:
    void stop();

    std::map<std::string, int32_t> subscriptions; // leaf name -> subscription id
};

} // namespace quillon
