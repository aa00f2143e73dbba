#pragma once

#include <cfloat>
#include <cstdint>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "quillon/config/geometry/position_record.h"
#include "quillon/tracking/objects/tracking_object.h"

namespace quillon
{

struct KineSceneUpdate;

// Monotonic clock in microseconds.
std::int64_t monotonicNowUs();

// The object store of one tracker strategy: the objects it currently knows
// (in insertion order), which of them the latest update saw, which are
// excluded from tracking and which one is tracked. Also the unit a strategy
// hands to the Tracker.
//
// Not locked: each store is touched by the thread that runs its strategy;
// an owner that shares one across threads guards it and hands out
// deepCopy()s.
class TrackerScene
{
public:
    // Result of findNearest when nothing qualifies.
    static constexpr float kNoDistance = FLT_MAX;

    // Empty, tracking nothing; updatedAtUs = the monotonic clock now.
    explicit TrackerScene(std::int64_t sceneTime = 0);

    // A copy whose objects are copies too (shares nothing with this one).
    TrackerScene deepCopy() const;

    // Appends (no duplicate check); with `visible` the id joins visibleIds.
    void addObject(std::shared_ptr<TrackingObject> object, bool visible);
    // First object with that id, or empty.
    std::shared_ptr<TrackingObject> findObject(int id) const;
    // Refreshes the stored object with the incoming one's id from it:
    // velocity, outline, confidence, time, newest time, moving; marks it
    // visible. -1 when no object has the id, else 0.
    int updateObject(const TrackingObject& incoming);
    // Erases the first object with the id and forgets the id in both sets;
    // its former index, or -1.
    int removeObject(int id);
    bool isVisible(int id) const;
    // Clears visibleIds, then marks every object of `source` (all for -1)
    // unconfident (-1) and visible again.
    void markSourceUnseen(int source);
    // flags = reported (plus tracked for trackedId) on every object of
    // `source` (all for -1), each refreshed in place.
    void markReported(int source);
    // Logs and ignores an id that is not stored.
    void exclude(int id);
    // Holds every excluded object below its confidence threshold.
    void applyExclusions();
    // -1 clears (true); otherwise tracks the id when stored (true), else
    // clears (false).
    bool setTracked(int id);
    void setSceneTime(std::int64_t time);

    // Best intersection-over-union with `box` among objects of confidence
    // >= minConfidence: (id, score), (-1, 0) when nothing overlaps.
    std::pair<int, float> findBestOverlap(const Box& box, int minConfidence) const;
    // Nearest box centre among objects of confidence >= minConfidence:
    // (id, distance), (-1, kNoDistance) when none.
    std::pair<int, float> findNearest(Point point, int minConfidence) const;
    // Largest confident object whose box lies within the reference size of
    // `object`'s box (its diagonal, at least 0.2); -1 when none.
    int findAdjacentLargest(const TrackingObject& object) const;

    // Logs the store, one line per object (info level).
    void printStorage() const;

    // Folds one scene-engine update (events, then objects) into the store.
    void applySceneUpdate(const KineSceneUpdate& update);

    std::int64_t sceneTimeUs = 0;
    std::int64_t updatedAtUs = 0;
    std::vector<std::shared_ptr<TrackingObject>> objects;
    std::set<std::int32_t> visibleIds;
    std::set<std::int32_t> excludedIds;
    std::int32_t trackedId = -1;
    std::int32_t lastStoppedId = -1;
    std::int64_t stoppedAtUs = 0;
    bool hasPosition = false;
    PositionRecord position;
};

} // namespace quillon
