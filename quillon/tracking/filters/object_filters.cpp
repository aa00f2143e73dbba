#include "quillon/tracking/filters/object_filters.h"

#include "quillon/config/geometry/camera_position.h"
#include "quillon/config/settings/settings_types.h"
#include "quillon/core/log.h"
#include "quillon/core/message.h"
#include "quillon/tracking/objects/tracking_object.h"

namespace quillon
{

namespace
{

// The payload of a settings message of type T, or null for other messages.
template <typename T> const T* payload(const std::shared_ptr<Message>& message)
{
    auto typed = dynamic_cast<const TrackerSettingsMessage<T>*>(message.get());
    return typed ? &typed->settings : nullptr;
}

} // namespace

ObjectLifespanFilter::ObjectLifespanFilter(int seconds, bool active)
    : ExclusionFilter("objectLifespanFilter", active)
{
    set(seconds, active);
}

void ObjectLifespanFilter::set(int seconds, bool active)
{
    minimumUs_ = std::int64_t(seconds) * 1000000;
    active_ = active;
    quillonLog(LOG_INFO, "Updated ObjectLifespanFilter: %llx us - active: %d\n",
               static_cast<unsigned long long>(minimumUs_), active_ ? 1 : 0);
}

void ObjectLifespanFilter::handleMessage(const std::shared_ptr<Message>& message)
{
    if (auto value = payload<min_object_lifespan_t>(message))
        set(value->time, value->enabled);
}

bool ObjectLifespanFilter::accepts(const TrackingObject& object) const
{
    return !active_ || object.newestUs - object.firstSeenUs >= minimumUs_;
}

ObjectSizeFilter::ObjectSizeFilter(int widthPercent, int heightPercent, bool active)
    : ExclusionFilter("objectSizeFilter", active)
{
    set(widthPercent, heightPercent, active);
}

void ObjectSizeFilter::set(int widthPercent, int heightPercent, bool active)
{
    // The picture spans 2 device units in each direction.
    minWidth_ = float(widthPercent) * 2.0f / 100.0f;
    minHeight_ = float(heightPercent) * 2.0f / 100.0f;
    active_ = active;
    quillonLog(LOG_INFO, "ObjectSizeFilter - Width: %.2f - Height: %.2f - Active: %d\n", minWidth_,
               minHeight_, active_ ? 1 : 0);
}

void ObjectSizeFilter::handleMessage(const std::shared_ptr<Message>& message)
{
    if (auto value = payload<min_object_size_t>(message))
        set(value->width, value->height, value->enabled);
}

bool ObjectSizeFilter::accepts(const TrackingObject& object) const
{
    if (!active_)
        return true;
    const Point size = object.getSize();
    return size.y > minHeight_ || size.x > minWidth_;
}

ObjectSizeDegreeFilter::ObjectSizeDegreeFilter() : ExclusionFilter("minObjectSizeDegrees", false)
{
    set(false, 0.5f, 0.5f);
}

void ObjectSizeDegreeFilter::set(bool active, float width, float height)
{
    active_ = active;
    minWidth_ = width;
    minHeight_ = height;
    quillonLog(LOG_INFO, "ObjectSizeDegreeFilter - Width: %.1f - Height: %.1f - Active: %d\n",
               double(minWidth_), double(minHeight_), active_ ? 1 : 0);
}

void ObjectSizeDegreeFilter::handleMessage(const std::shared_ptr<Message>& message)
{
    if (auto value = payload<MinObjectSizeDegrees>(message))
        set(value->enabled, value->width, value->height);
}

bool ObjectSizeDegreeFilter::accepts(const TrackingObject& object) const
{
    if (!active_)
        return true;
    const CameraPosition camera = cameraPosition();
    if (!camera.valid)
        return true;
    // Box units span 2 across the picture: half a unit per field of view.
    const Point size = object.getSize();
    return minWidth_ < size.x * 0.5f * camera.record.horizontalFov ||
           minHeight_ < size.y * 0.5f * camera.record.verticalFov;
}

bool ObjectConfidenceFilter::accepts(const TrackingObject& object) const
{
    return object.isConfident();
}

} // namespace quillon
