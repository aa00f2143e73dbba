#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillon
{

class EventProducer;

// One declaration on an event producer, kept usable across the producer's
// failures and restarts: a failed declaration is tried again before a later
// send (at most once a second), and a declaration whose producer changed
// owner (it restarted and forgot every id) is made again.
//
// Threads: used only by the thread that owns the event handler holding it.
class DeclaredEvent
{
public:
    // `declare` makes the declaration on the producer and returns its id;
    // `onFailure` logs a failed attempt (given the id).
    DeclaredEvent(std::function<int32_t(EventProducer&)> declare,
                  std::function<void(int32_t)> onFailure);

    // Declares now; returns the id.
    int32_t declare(EventProducer& producer, int64_t nowUs);
    // Before a send: true when the declaration is usable, declaring again
    // when it failed before or the producer's owner changed since.
    bool ready(EventProducer& producer, int64_t nowUs);
    // Undeclares a live declaration (any id >= 0) at the owner that holds it.
    void undeclare(EventProducer& producer);

    int32_t id() const { return id_; }

    static constexpr int64_t kRetryIntervalUs = 1000000;

private:
    std::function<int32_t(EventProducer&)> declare_;
    std::function<void(int32_t)> onFailure_;
    int32_t id_ = -1;
    std::string owner_; // the producer's owner when the id was obtained
    int64_t lastAttemptUs_ = 0;
    bool attempted_ = false;
};

// The producer of a started event handler with the handler's declarations:
// start() makes a new producer and declares each, stop() undeclares each and
// releases the producer. Same thread rules as DeclaredEvent.
class EventSession
{
public:
    // The declarations must outlive the session.
    explicit EventSession(std::vector<DeclaredEvent*> declarations);
    ~EventSession();
    EventSession(const EventSession&) = delete;
    EventSession& operator=(const EventSession&) = delete;

    void start();
    void stop();
    bool started() const { return producer_ != nullptr; }
    // The producer (null when stopped).
    EventProducer* producer() const { return producer_.get(); }
    // The producer when `declaration` can be sent on now (declaring again
    // where needed), else null.
    EventProducer* ready(DeclaredEvent& declaration);

private:
    std::vector<DeclaredEvent*> declarations_;
    std::unique_ptr<EventProducer> producer_;
};

} // namespace quillon
