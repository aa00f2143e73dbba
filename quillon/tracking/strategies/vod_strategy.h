#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "quillon/tracking/strategies/generic_tracker.h"

namespace quillon
{

class Channel;
class VodSceneHolder;

// What VodTracker and VodTracker2 share: a VodSceneHolder for the channel
// (the detection-feed client, the stored scene under its lock, the class
// map, the feed watch), the tracked id, the three tracking slots and the
// scene step. Every VodSceneUpdateMessage on the bus is folded into the
// store with the tracked id marked, the feed's id change of the tracked
// object is followed or dropped (derived class), and a report scene built
// by the derived class goes to the Tracker.
//
// Threads: construction, start, handleMessage and destruction run on the
// bus thread (the Tracker's); the slots too, except that the Tracker's
// shutdown may call unsetTrackingObject and prepareToShutdown from the main
// thread. `lock_` guards the tracked id and the derived classes' state and
// serialises the slots with the scene step; the step releases it before it
// calls the Tracker, which may hold its own step lock while it calls the
// slots (order: the Tracker's lock, then `lock_`, then the holder's lock).
// The feed client only posts messages from the library thread; the
// holder's watch reads the store under the holder's lock on the timer
// thread. prepareToShutdown stops the client and the watch (waiting for a
// running watch); no feed callback reaches the strategy after it.
class VodStrategy : public GenericTracker
{
public:
    ~VodStrategy() override;

    // Loads (or creates) the class settings file and starts the feed client
    // and the watch. A strategy that is never started only folds the
    // messages it is given.
    virtual void start();

    // Runs the scene step for a VodSceneUpdateMessage; ignores others.
    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;
    bool hasObject(int id) override;
    bool setTrackingObject(int id, bool force) override;
    void unsetTrackingObject(bool exclude) override;
    void setPositionSource(std::shared_ptr<VodPositionSource> source) override;

    int trackedId() const;
    // A copy of the stored scene.
    TrackerScene storedScene() const;
    VodSceneHolder& holder() { return *holder_; }

protected:
    // `name` ("VodTracker") heads the lifecycle lines, `tag` ("VT") the
    // shutdown lines. Messages of the feed client go to `bus`; classes come
    // from `classFile` (a settings file name).
    VodStrategy(std::string name, std::string tag, int channel, TrackerCallback callback,
                Tracker* tracker, bool debug, Channel& bus, std::string classFile);

    // After a fold: the strategy tracked `before`; the store now tracks
    // `after` (the feed may have moved the track to another id, or lost it).
    virtual void followIdChange(int before, int after) = 0;
    // The report for the Tracker, made from `stored` (a copy of the stored
    // scene whose objects it may take).
    virtual TrackerScene buildReport(TrackerScene& stored) = 0;

    // An empty report with the scene time and camera position of `stored`.
    static TrackerScene emptyReport(const TrackerScene& stored);

    const std::string& classFile() const { return classFile_; }

    // Recursive: the stop rules and the id change call the slots.
    mutable std::recursive_mutex lock_;
    int trackedId_ = -1;

private:
    std::string name_;
    std::string tag_;
    std::string classFile_;
    std::shared_ptr<VodSceneHolder> holder_;
};

} // namespace quillon
