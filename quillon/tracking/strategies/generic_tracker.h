#pragma once

#include <functional>
#include <memory>

#include "quillon/core/message_receiver.h"
#include "quillon/tracking/objects/tracker_scene.h"

namespace quillon
{

class Tracker;
class VodPositionSource;

// The Tracker's per-update entry, as a strategy sees it: called with the
// strategy's report scene after every applied scene update. The Tracker
// argument is the one the strategy was built with; the callback does nothing
// when it is null (tests build strategies without a Tracker).
using TrackerCallback = std::function<void(TrackerScene& scene, Tracker* tracker)>;

// A tracker strategy: turns feed messages into a TrackerScene and hands a
// report scene to the Tracker after each update. The Tracker builds one by
// its trackerType, subscribes it on the bus and drives it through the three
// tracking slots below.
//
// Threads: every slot, and handleMessage, runs on the bus dispatch thread;
// a strategy's feed threads only post messages or fold into its own store
// under its lock. Once prepareToShutdown has returned no feed callback
// reaches the strategy.
class GenericTracker : public MessageReceiver
{
public:
    GenericTracker(int channel, TrackerCallback callback, Tracker* tracker)
        : channel_(channel), callback_(std::move(callback)), tracker_(tracker)
    {
    }
    ~GenericTracker() override = default;

    // Whether the id is in the strategy's stored scene.
    virtual bool hasObject(int id) = 0;
    // Follows the object when it is stored and (not excluded or `force`):
    // remembers it as tracked and marks it in the stored scene; else false.
    virtual bool setTrackingObject(int id, bool force) = 0;
    // Excludes the tracked object when `exclude` is set, then forgets it.
    virtual void unsetTrackingObject(bool exclude) = 0;

    // Where the strategy learns the camera position of a scene time; the
    // Tracker sets it right after construction. Null: no positions.
    virtual void setPositionSource(std::shared_ptr<VodPositionSource> source)
    {
        positions_ = std::move(source);
    }

    int channel() const { return channel_; }

protected:
    // Hands a report scene to the Tracker (nothing without a callback).
    void report(TrackerScene& scene)
    {
        if (callback_)
            callback_(scene, tracker_);
    }

    int channel_;
    TrackerCallback callback_;
    Tracker* tracker_;
    std::shared_ptr<VodPositionSource> positions_;
};

} // namespace quillon
