#pragma once

#include <memory>
#include <string>

#include "quillon/core/message_receiver.h"

namespace quillon
{

class TrackingObject;

// One test an object must pass before it may start tracking inside a zone
// profile. A filter takes its threshold from the settings message of its own
// record type (other messages are ignored) and, when inactive, passes every
// object.
//
// Threads: subscribed on the bus by its profile; handleMessage and accepts
// both run on the bus dispatch thread, so the threshold is not locked.
class ExclusionFilter : public MessageReceiver
{
public:
    ExclusionFilter(std::string name, bool active) : name_(std::move(name)), active_(active) {}
    ~ExclusionFilter() override = default;

    void prepareToShutdown() override {}
    virtual bool accepts(const TrackingObject& object) const = 0;

    const std::string& name() const { return name_; }
    bool active() const { return active_; }

protected:
    std::string name_;
    bool active_;
};

} // namespace quillon
