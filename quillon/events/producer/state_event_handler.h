#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quillon/events/producer/declared_event.h"

namespace quillon
{

class EventProducer;

// A declared boolean state event with a channel: declared at start, sent on
// every change of the value while started, undeclared at stop.
//
// Threads: owned and used by one thread (the Tracker's, i.e. the bus
// dispatch thread); a declaration blocks it for at most 2 s.
class StateEventHandler
{
public:
    struct Setup {
        const char* handlerName; // for "<name> declare failed"
        std::string topic;
        std::string keySpec;
        std::string key; // the boolean's key in the event data
        bool leading;
    };

    explicit StateEventHandler(Setup setup);
    virtual ~StateEventHandler();
    StateEventHandler(const StateEventHandler&) = delete;
    StateEventHandler& operator=(const StateEventHandler&) = delete;

    // Makes a new producer and declares; a failed declaration is logged and
    // tried again before a later send.
    void start();
    // Undeclares and releases the producer.
    void stop();
    bool started() const { return session_.started(); }

    // Stores the value and, when it changed and the handler is started,
    // sends it with the channel. `timeUs` is on the monotonic clock.
    void set(bool value, int32_t channel, int64_t timeUs);
    bool value() const { return value_; }
    int32_t declarationId() const { return declaration_.id(); }

private:
    Setup setup_;
    DeclaredEvent declaration_;
    EventSession session_{{&declaration_}};
    bool value_ = false;
};

// "AutotrackingState": stateInfo true while the tracker follows a target.
class AutotrackingStateEventHandler : public StateEventHandler
{
public:
    AutotrackingStateEventHandler();
    void setState(bool tracking, int32_t channel, int64_t timeUs)
    {
        set(tracking, channel, timeUs);
    }
};

// "AutoTriggers": autoTriggersEnabled, whether automatic triggering is on.
// Declared with the leading flag unless in debug mode.
class AutotrackingEnabledEventHandler : public StateEventHandler
{
public:
    explicit AutotrackingEnabledEventHandler(bool debug);
    void setEnabled(bool enabled, int32_t channel, int64_t timeUs)
    {
        set(enabled, channel, timeUs);
    }
};

// The topic string shared by quillon's events: the two root levels and `leaf`.
std::string quillonTopic(const std::string& leaf);

} // namespace quillon
