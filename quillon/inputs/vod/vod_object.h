#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "quillon/tracking/objects/tracking_object.h"

namespace quillon
{

// Tracking status the detector reports with a detection.
enum VodDetectionStatus : std::int32_t {
    kVodUntracked = 0,
    kVodTrackedUnconfident = 1,
    kVodTrackedConfident = 2,
};

// One observation of a detected object: the camera's pan/tilt and fields of
// view at the scene time, the object's own pan/tilt (box centre), all NaN
// when unknown; the box, scene time, status and score.
struct VodHistorySample {
    static constexpr float kUnknown = std::numeric_limits<float>::quiet_NaN();

    Point camera{kUnknown, kUnknown};      // pan, tilt (degrees)
    Point fieldOfView{kUnknown, kUnknown}; // horizontal, vertical (degrees)
    Point object{kUnknown, kUnknown};      // pan, tilt (degrees)
    Box box;
    std::int64_t timeUs = 0;
    std::int32_t status = kVodUntracked;
    std::int32_t score = 0;
};

// An object of the detection feed. Its confidence is the detection score
// against the class threshold; a short motion history (camera and object
// directions) decides whether it moves.
//
// Not locked: owned by one store, like every TrackingObject.
class VodObject : public TrackingObject
{
public:
    static constexpr std::size_t kMaxHistory = 20;
    // The analysis needs more samples than this.
    static constexpr std::size_t kMinAnalysedSamples = 7;

    VodObject(int id, std::int64_t sceneTimeUs, const Polygon& box, int score, int threshold,
              int classId, bool isHuman, int status, bool hasMove);
    ~VodObject() override;
    VodObject(const VodObject&) = default;
    VodObject& operator=(const VodObject&) = default;

    // Score >= threshold as signed integers (threshold -1 admits all).
    bool isConfident() const override;
    // The display box when it has an area, else the outline's box.
    Box getBox() const override;
    // Confident, moving, and moving for 0.25 s (a person) or 2.0 s; logs
    // when it triggers.
    bool shouldTrigger() const override;
    bool isHuman() const override;
    std::shared_ptr<TrackingObject> clone() const override;

    // Appends one sample (the oldest goes beyond kMaxHistory), analyses the
    // motion and stores the result through setMoving. `tracked`: this object
    // is the one the camera follows, so a moving camera does not make it
    // stand still. Returns whether it moves.
    bool appendHistory(Point camera, Point fieldOfView, Point object, const Box& box, int status,
                       int score, std::int64_t timeUs, bool tracked);
    // Marks the object lost (forgetting its confidence, box, velocity and
    // history) or found again.
    void setLost(bool lost);
    // Drops the history and the analysis state (the id now names another
    // object).
    void resetMotion();

    const std::vector<VodHistorySample>& history() const { return history_; }

    std::int32_t detectionStatus = kVodUntracked;
    VodHistorySample latestSample;
    Point latestPanTilt{VodHistorySample::kUnknown, VodHistorySample::kUnknown};
    Point rates;        // pan and tilt rates (degrees per second)
    Point restPosition; // mean pan and tilt when last found still
    bool hasMove = false;
    Box displayBox;
    bool motionAnalysed = false;
    bool lost = false;

private:
    bool analyseMotion(bool tracked);

    std::vector<VodHistorySample> history_;
};

} // namespace quillon
