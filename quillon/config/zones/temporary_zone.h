#pragma once

#include <cstdint>

namespace quillon
{

// A temporary trigger zone: for `duration` seconds of scene time every
// object seen long enough is a tracking candidate, wherever it is. The clock
// starts at the first evaluation after start(); the evaluation that finds the
// time exceeded ends the zone but still counts as active.
//
// Threads: part of a tracking profile; bus dispatch thread only.
class TemporaryZone
{
public:
    // A timeout of 0 or less starts nothing and ends a running zone.
    // A new start replaces a running zone.
    void start(int timeout, bool gotoHomeAfter, int preTriggerTime);
    // One evaluation at `sceneTimeUs`: whether the zone counts as active for
    // it (the clock starts now when it has not yet).
    bool beginPass(std::int64_t sceneTimeUs);
    // Whether an object first seen at `firstSeenUs` is old enough (logged).
    bool triggers(int objectId, std::int64_t firstSeenUs, std::int64_t sceneTimeUs) const;

    int duration() const { return duration_; }
    bool running() const { return running_; }
    std::int64_t startUs() const { return startUs_; }
    bool gotoHomeAfter() const { return gotoHomeAfter_; }
    int preTriggerTime() const { return preTriggerTime_; }

private:
    int duration_ = 0;           // seconds, 0 = no zone
    std::int64_t startUs_ = 0;   // scene time of the first evaluation
    bool running_ = false;       // startUs_ holds that time
    bool gotoHomeAfter_ = false; // stored and logged only
    int preTriggerTime_ = 1000;  // milliseconds
};

} // namespace quillon
