#include "quillon/events/producer/declared_event.h"

#include <glib.h>

#include "quillon/events/producer/event_producer.h"

namespace quillon
{

DeclaredEvent::DeclaredEvent(std::function<int32_t(EventProducer&)> declare,
                             std::function<void(int32_t)> onFailure)
    : declare_(std::move(declare)), onFailure_(std::move(onFailure))
{
}

int32_t DeclaredEvent::declare(EventProducer& producer, int64_t nowUs)
{
    attempted_ = true;
    lastAttemptUs_ = nowUs;
    // Read before the call: should the producer restart in between, the
    // next send sees a changed owner and declares once more.
    owner_ = producer.owner();
    id_ = declare_(producer);
    if (id_ < 0)
        onFailure_(id_);
    return id_;
}

bool DeclaredEvent::ready(EventProducer& producer, int64_t nowUs)
{
    if (id_ >= 0 && producer.owner() == owner_)
        return true;
    if (id_ >= 0 || !attempted_ || nowUs - lastAttemptUs_ >= kRetryIntervalUs)
        declare(producer, nowUs);
    return id_ >= 0;
}

void DeclaredEvent::undeclare(EventProducer& producer)
{
    // An id handed out by a producer that has since restarted may belong to
    // somebody else's declaration now.
    if (id_ >= 0 && producer.owner() == owner_)
        producer.undeclare(id_);
    id_ = -1;
}

EventSession::EventSession(std::vector<DeclaredEvent*> declarations)
    : declarations_(std::move(declarations))
{
}

EventSession::~EventSession()
{
    stop();
}

void EventSession::start()
{
    if (producer_)
        return;
    producer_ = std::make_unique<EventProducer>();
    int64_t now = g_get_monotonic_time();
    for (DeclaredEvent* d : declarations_)
        d->declare(*producer_, now);
}

void EventSession::stop()
{
    if (!producer_)
        return;
    for (DeclaredEvent* d : declarations_)
        d->undeclare(*producer_);
    producer_.reset();
}

EventProducer* EventSession::ready(DeclaredEvent& declaration)
{
    if (!producer_ || !declaration.ready(*producer_, g_get_monotonic_time()))
        return nullptr;
    return producer_.get();
}

} // namespace quillon
