#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quillon/events/producer/declared_event.h"

namespace quillon
{

class EventProducer;

// The two events of one zone profile: "ProfileUpdated_<id>" (whether the
// profile is enabled) and "ProfileMovement_<id>" (whether objects move in
// its zones, held until 5 s after the last one).
//
// The profile name goes into the topics' nice names with "/(){}[]" replaced
// by "_" (they would split the topic, open a tag or end the nice name); the
// event data carries it unchanged.
//
// Threads: owned and used by the thread that evaluates the trigger zones
// (the bus dispatch thread). Times are monotonic microseconds given by the
// caller.
class ZoneProfileEventHandler
{
public:
    static constexpr int64_t kMovementHoldUs = 5000000;

    ZoneProfileEventHandler(int32_t profileId, std::string name, bool debug);
    ~ZoneProfileEventHandler();
    ZoneProfileEventHandler(const ZoneProfileEventHandler&) = delete;
    ZoneProfileEventHandler& operator=(const ZoneProfileEventHandler&) = delete;

    void start();
    void stop();
    bool started() const { return session_.started(); }

    // Sends "enabled" when it changed (the last value starts false).
    void setEnabled(bool enabled, int64_t nowUs);
    bool enabled() const { return enabled_; }

    // One evaluation pass: clearMovement(), markMovement() for an object in
    // a zone, then evaluate().
    void clearMovement() { movementSeen_ = false; }
    void markMovement() { movementSeen_ = true; }
    void evaluate(int64_t nowUs);
    bool moving() const { return moving_; }

    int32_t profileId() const { return profileId_; }
    const std::string& name() const { return name_; }

private:
    void sendMovement(int64_t nowUs);

    int32_t profileId_;
    std::string name_;
    bool debug_;
    DeclaredEvent updated_;
    DeclaredEvent movement_;
    EventSession session_{{&updated_, &movement_}};
    bool enabled_ = false;
    int64_t latestMovementUs_ = 0;
    bool movementSeen_ = false;
    bool moving_ = false;
};

} // namespace quillon
