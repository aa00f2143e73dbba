#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quillon/config/geometry/point.h"
#include "quillon/config/geometry/polygon.h"

namespace quillon
{

// Producing feed of an object (TrackingObject::source).
enum ObjectSource : std::int32_t {
    kSourceNone = 0,
    kSourceScene = 1,     // scene engine (KineObject)
    kSourceDetection = 2, // detection feed (VodObject)
    kSourceFused = 3,     // fused or analytics-topic object
    kSourceAny = -1,      // argument of the storage operations: every source
};

// Bits of TrackingObject::flags.
inline constexpr std::int32_t kFlagReported = 1; // listed in the strategy's latest report
inline constexpr std::int32_t kFlagTracked = 2;  // the tracked object

// A rectangle in device coordinates: (x, y) is the corner with the smallest
// coordinates.
struct Box {
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;

    Point centre() const { return {x + width * 0.5f, y + height * 0.5f}; }
    float area() const { return width * height; }
    bool operator==(const Box&) const = default;
};

// One observed object of an input feed, always held through shared_ptr.
// Times are feed times in microseconds, signed so that ages and differences
// never wrap. The bookkeeping setters keep the "since" instants: the confident
// and moving states remember when they last changed.
//
// Not locked: an object belongs to one store (TrackerScene) and is touched by
// the thread that owns that store.
class TrackingObject
{
public:
    TrackingObject();
    virtual ~TrackingObject();
    TrackingObject(const TrackingObject&) = default;
    TrackingObject& operator=(const TrackingObject&) = default;

    virtual int getId() const;
    // (width, height) of the bounding box.
    virtual Point getSize() const;
    // lastSeenUs = t; the first-seen and "since" instants still at 0 become
    // t; newestUs follows the largest t.
    virtual void setTime(std::int64_t t);
    virtual bool isConfident() const;
    virtual Box getBox() const;
    // "[s:<source>,i:<id>,p:<flags>:<confidence>]:<outline>"
    virtual std::string toString() const;
    // Confident, moving, and moving for 0.25 s (a person) or 1.5 s.
    virtual bool shouldTrigger() const;
    virtual bool isHuman() const;
    // A copy of the same dynamic type.
    virtual std::shared_ptr<TrackingObject> clone() const;

    // A change of confidence re-evaluates `confident`; a change of that state
    // records lastSeenUs in confidentSinceUs.
    void setConfidence(int c);
    // A change records lastSeenUs in moveStateSinceUs.
    void setMoving(bool m);
    // Seconds since the moving state last changed.
    float moveTime() const;
    // Seconds since the confident state last changed.
    float confidentTime() const;

    std::int32_t source = kSourceNone;
    std::int32_t id = -1;
    std::int32_t flags = 0;
    std::int64_t lastSeenUs = 0;
    std::int64_t firstSeenUs = 0;
    std::int64_t moveStateSinceUs = 0;
    std::int64_t confidentSinceUs = 0;
    std::int64_t newestUs = 0;
    bool human = false;
    bool moving = false;
    Polygon shape = Polygon::defaultPolygon();
    float velocityX = 0.0f;
    float velocityY = 0.0f;
    std::int32_t confidence = 0;
    std::int32_t confidenceThreshold = 0;
    bool confident = false;
    std::int32_t objectType = -1;
    std::string typeName;
    // Feed time of the latest real observation (not moved by carrying a
    // missed object over to the next scene); the store ages lost objects
    // out from it.
    std::int64_t detectedUs = 0;
};

// An object of the scene engine.
class KineObject : public TrackingObject
{
public:
    KineObject();
    ~KineObject() override;
    KineObject(const KineObject&) = default;
    KineObject& operator=(const KineObject&) = default;

    std::shared_ptr<TrackingObject> clone() const override;
};

// Text form of an outline: its points one after the other.
std::string outlineText(const PointsContainer& outline);

} // namespace quillon
