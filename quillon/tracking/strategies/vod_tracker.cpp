#include "quillon/tracking/strategies/vod_tracker.h"

#include "quillon/core/log.h"
#include "quillon/tracking/detections/vod_scene_holder.h"

namespace quillon
{

VodTracker::VodTracker(int channelNumber, TrackerCallback callback, Tracker* tracker, bool debug,
                       Channel& bus, std::string classFile)
    : VodStrategy("VodTracker", "VT", channelNumber, std::move(callback), tracker, debug, bus,
                  std::move(classFile))
{
}

void VodTracker::followIdChange(int before, int after)
{
    if (before != after)
        unsetTrackingObject(false);
}

TrackerScene VodTracker::buildReport(TrackerScene& stored)
{
    if (classes_.empty())
        classes_ = holder().classes();
    TrackerScene report = emptyReport(stored);
    bool found = false;
    for (const auto& object : stored.objects) {
        const int id = object->getId();
        if (id == trackedId_) {
            object->flags = kFlagReported | kFlagTracked;
            report.addObject(object, true);
            report.setTracked(id);
            found = true;
            continue;
        }
        object->flags = kFlagReported;
        report.addObject(object, true);
        if (stored.excludedIds.count(id) != 0)
            report.exclude(id);
    }
    if (trackedId_ >= 0 && !found) {
        quillonLog(LOG_WARNING, "Problem finding tracked object %d\n", trackedId_);
        trackedId_ = -1;
    }
    report.applyExclusions();
    return report;
}

} // namespace quillon
