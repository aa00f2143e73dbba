#include "quillon/events/listener/event_listener.h"

namespace quillon
{

EventListener::EventListener() = default;

EventListener::~EventListener()
{
    stop();
}

void EventListener::handleMessage(const std::shared_ptr<Message>&) {}

void EventListener::prepareToShutdown()
{
    stop();
}

void EventListener::stop()
{
    subscriptions.clear();
}

} // namespace quillon
