#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace camsim
{
class EventHub;
}

namespace camsim::feeds
{

// Watches the events the tracking daemon sends through camsim's event
// producer and keeps what they say about tracking on channel 1, for the trace:
// the tracking state ("AutotrackingState": stateInfo) and the followed
// detection id ("streamObjects": trackedId of its JSON frame). Lives on the
// main loop like the hub; unregisters itself when destroyed.
class TrackingObserver
{
public:
    explicit TrackingObserver(EventHub& hub);
    ~TrackingObserver();
    TrackingObserver(const TrackingObserver&) = delete;
    TrackingObserver& operator=(const TrackingObserver&) = delete;

    bool tracking() const { return tracking_; }
    int trackedId() const { return trackedId_; }

    // One sent event (public for tests).
    void onSent(const std::string& topic, const nlohmann::json& data);

private:
    EventHub& hub_;
    int listener_ = 0;
    bool tracking_ = false;
    int trackedId_ = -1;
};

} // namespace camsim::feeds
