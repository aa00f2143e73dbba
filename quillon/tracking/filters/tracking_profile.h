#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "quillon/config/geometry/polygon.h"
#include "quillon/config/zones/temporary_zone.h"
#include "quillon/tracking/filters/object_alarm_status.h"
#include "quillon/tracking/filters/profile.h"

namespace quillon
{

class CameraGeometry;
class ObjectLifespanFilter;
class ObjectSizeDegreeFilter;
class ObjectSizeFilter;
class TrackerScene;
class ZoneProfileContainer;
struct PictureFormat;
struct PositionRecord;

// The tracker's zone profile: the filter chain (confidence, size, size in
// degrees, lifespan), the trigger zones (a ZoneProfileContainer fed by the
// zone-profile store) and the temporary trigger zone, combined into the
// per-scene list of objects that may start tracking.
//
// Threads: built and destroyed on the bus dispatch thread (by the Tracker);
// the filters and the container are subscribed on the bus while the profile
// lives, and everything, candidates() included, runs on that thread.
class TrackingProfile : public Profile
{
public:
    TrackingProfile(int id, bool debug);
    ~TrackingProfile() override;

    // Starts (or, for a timeout <= 0, ends) the temporary trigger zone.
    void startTemporaryZone(int timeout, bool gotoHomeAfter, int preTriggerTime);

    // The candidates of one scene, in order: for each object (storage
    // order), each zone (ascending id) that the object lies in, when the
    // profile accepts it; then the object itself when the temporary zone is
    // active and the object old enough. `nowUs` (monotonic) times the zone
    // movement events.
    std::vector<ObjectAlarmStatus> candidates(const TrackerScene& scene,
                                              const PositionRecord& position,
                                              const PictureFormat& format,
                                              const CameraGeometry& geometry);
    std::vector<ObjectAlarmStatus> candidates(const TrackerScene& scene,
                                              const PositionRecord& position,
                                              const PictureFormat& format,
                                              const CameraGeometry& geometry, std::int64_t nowUs);

    const std::shared_ptr<ZoneProfileContainer>& zones() const { return zones_; }
    const TemporaryZone& temporaryZone() const { return temporaryZone_; }
    ObjectSizeFilter& sizeFilter() { return *sizeFilter_; }
    ObjectSizeDegreeFilter& sizeDegreeFilter() { return *sizeDegreeFilter_; }
    ObjectLifespanFilter& lifespanFilter() { return *lifespanFilter_; }
    bool debug() const { return debug_; }

private:
    std::shared_ptr<ObjectSizeFilter> sizeFilter_;
    std::shared_ptr<ObjectSizeDegreeFilter> sizeDegreeFilter_;
    std::shared_ptr<ObjectLifespanFilter> lifespanFilter_;
    std::shared_ptr<ZoneProfileContainer> zones_;
    TemporaryZone temporaryZone_;
    Polygon objectBox_; // reused for every object of a pass
    bool debug_;
};

} // namespace quillon
