#include "quillon/tracking/filters/tracking_profile.h"

#include <glib.h>

#include "quillon/config/zones/zone_profile_container.h"
#include "quillon/core/channel.h"
#include "quillon/tracking/filters/object_filters.h"
#include "quillon/tracking/objects/tracker_scene.h"

namespace quillon
{

TrackingProfile::TrackingProfile(int id, bool debug)
    : Profile(id, "default", debug ? 1 : 0),
      sizeFilter_(std::make_shared<ObjectSizeFilter>(5, 5, true)),
      sizeDegreeFilter_(std::make_shared<ObjectSizeDegreeFilter>()),
      lifespanFilter_(std::make_shared<ObjectLifespanFilter>(1, false)),
      zones_(std::make_shared<ZoneProfileContainer>(debug)), debug_(debug)
{
    addFilter(sizeFilter_);
    addFilter(sizeDegreeFilter_);
    addFilter(lifespanFilter_);
    for (const auto& filter : filters())
        Channel::instance().subscribe(filter);
    Channel::instance().subscribe(zones_);
}

TrackingProfile::~TrackingProfile()
{
    for (const auto& filter : filters())
        Channel::instance().unsubscribe(filter);
    Channel::instance().unsubscribe(zones_);
}

void TrackingProfile::startTemporaryZone(int timeout, bool gotoHomeAfter, int preTriggerTime)
{
    temporaryZone_.start(timeout, gotoHomeAfter, preTriggerTime);
}

std::vector<ObjectAlarmStatus> TrackingProfile::candidates(const TrackerScene& scene,
                                                           const PositionRecord& position,
                                                           const PictureFormat& format,
                                                           const CameraGeometry& geometry)
{
    return candidates(scene, position, format, geometry, g_get_monotonic_time());
}

std::vector<ObjectAlarmStatus> TrackingProfile::candidates(const TrackerScene& scene,
                                                           const PositionRecord& position,
                                                           const PictureFormat& format,
                                                           const CameraGeometry& geometry,
                                                           std::int64_t nowUs)
{
    std::vector<ObjectAlarmStatus> result;
    result.reserve(scene.objects.size());
    const std::int64_t sceneTime = scene.sceneTimeUs;
    const bool temporary = temporaryZone_.beginPass(sceneTime);
    auto& zones = zones_->zones();
    zones_->beginPass(position, format, geometry);

    // Holding the objects keeps them alive whatever a filter does.
    const std::vector<std::shared_ptr<TrackingObject>> snapshot = scene.objects;
    for (const auto& object : snapshot) {
        if (!zones.empty() && accepts(*object)) {
            const BoundingBox& box = object->shape.boundingBox();
            objectBox_.clear();
            objectBox_.addPoint({box.minX, box.minY});
            objectBox_.addPoint({box.minX, box.maxY});
            objectBox_.addPoint({box.maxX, box.maxY});
            objectBox_.addPoint({box.maxX, box.minY});
            for (auto& [id, zone] : zones)
                if (zones_->objectInZone(zone, objectBox_))
                    result.push_back({object->getId(), zone.id, zone.preset});
        }
        if (temporary && temporaryZone_.triggers(object->getId(), object->firstSeenUs, sceneTime))
            result.push_back({object->getId(), -1, -1});
    }
    zones_->endPass(nowUs);
    return result;
}

} // namespace quillon
