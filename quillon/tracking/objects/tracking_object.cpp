#include "quillon/tracking/objects/tracking_object.h"

#include <fmt/format.h>

namespace quillon
{

namespace
{

constexpr float kHumanTriggerSeconds = 0.25f;
constexpr float kOtherTriggerSeconds = 1.5f;

float secondsBetween(std::int64_t later, std::int64_t earlier)
{
    return static_cast<float>(static_cast<double>(later - earlier) / 1e6);
}

} // namespace

TrackingObject::TrackingObject() = default;

TrackingObject::~TrackingObject() = default;

int TrackingObject::getId() const
{
    return id;
}

Point TrackingObject::getSize() const
{
    const BoundingBox& b = shape.boundingBox();
    return {b.maxX - b.minX, b.maxY - b.minY};
}

void TrackingObject::setTime(std::int64_t t)
{
    lastSeenUs = t;
    for (std::int64_t* since : {&firstSeenUs, &confidentSinceUs, &moveStateSinceUs, &detectedUs})
        if (*since == 0)
            *since = t;
    if (t > newestUs)
        newestUs = t;
}

bool TrackingObject::isConfident() const
{
    return confident;
}

Box TrackingObject::getBox() const
{
    const BoundingBox& b = shape.boundingBox();
    return {b.minX, b.minY, b.maxX - b.minX, b.maxY - b.minY};
}

std::string TrackingObject::toString() const
{
    return fmt::format("[s:{},i:{},p:{}:{}]:{}", source, id, flags, confidence, outlineText(shape));
}

bool TrackingObject::shouldTrigger() const
{
    if (!isConfident() || !moving)
        return false;
    return moveTime() >= (human ? kHumanTriggerSeconds : kOtherTriggerSeconds);
}

bool TrackingObject::isHuman() const
{
    return human;
}

std::shared_ptr<TrackingObject> TrackingObject::clone() const
{
    return std::make_shared<TrackingObject>(*this);
}

void TrackingObject::setConfidence(int c)
{
    if (c == confidence)
        return;
    confidence = c;
    bool now = c >= confidenceThreshold;
    if (now != confident) {
        confident = now;
        confidentSinceUs = lastSeenUs;
    }
}

void TrackingObject::setMoving(bool m)
{
    if (m == moving)
        return;
    moving = m;
    moveStateSinceUs = lastSeenUs;
}

float TrackingObject::moveTime() const
{
    return secondsBetween(lastSeenUs, moveStateSinceUs);
}

float TrackingObject::confidentTime() const
{
    return secondsBetween(lastSeenUs, confidentSinceUs);
}

KineObject::KineObject()
{
    confidenceThreshold = 1;
}

KineObject::~KineObject() = default;

std::shared_ptr<TrackingObject> KineObject::clone() const
{
    return std::make_shared<KineObject>(*this);
}

std::string outlineText(const PointsContainer& outline)
{
    std::string text;
    for (const Point& p : outline.points())
        text += toString(p);
    return text;
}

} // namespace quillon
