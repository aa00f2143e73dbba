#include "quillon/tracking/strategies/vod_tracker2.h"

#include <fmt/format.h>

#include "quillon/core/log.h"
#include "quillon/inputs/vod/vod_object.h"
#include "quillon/tracking/detections/vod_scene_holder.h"
#include "quillon/tracking/strategies/vod_class_merge.h"

namespace quillon
{

VodTracker2::VodTracker2(int channelNumber, TrackerCallback callback, Tracker* tracker, bool debug,
                         Channel& bus, std::string classFile)
    : VodStrategy("VodTracker2", "VT2", channelNumber, std::move(callback), tracker, debug, bus,
                  std::move(classFile))
{
}

void VodTracker2::start()
{
    VodStrategy::start();
    mergeClasses(holder().vodClient().detectorClassMap());
    std::lock_guard<std::recursive_mutex> guard(lock_);
    quillonLog(LOG_INFO, "VodTracker2 created (%zu known VOD object types)\n", knownClasses_);
}

void VodTracker2::mergeClasses(const VodClassMap& model)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    VodObjectClassSettings settings(classFile());
    settings.loadOrCreate();
    classes_ = mergeVodClasses(model, settings.classes());
    knownClasses_ = classes_.size();
    // An empty merge (the detector's classes not known yet) would filter
    // every detection out.
    if (!classes_.empty())
        holder().vodClient().setObjectClasses(classes_);
}

void VodTracker2::followIdChange(int before, int after)
{
    if (before < 0 || before == after)
        return;
    if (after < 0) {
        quillonLog(LOG_INFO, "Tracked object has been dropped %d\n", before);
        unsetTrackingObject(false);
        return;
    }
    quillonLog(LOG_INFO, "Tracked object has been changed %d => %d\n", before, after);
    // The new id may be one the Tracker excluded: then nothing is tracked.
    if (!setTrackingObject(after, false))
        unsetTrackingObject(false);
}

std::string VodTracker2::label(const TrackingObject& object) const
{
    auto type = classes_.find(object.objectType);
    const std::string name = type != classes_.end() ? type->second.name : std::string();
    const double age = static_cast<double>(object.lastSeenUs - object.firstSeenUs) / 1e6;
    if (auto* vod = dynamic_cast<const VodObject*>(&object))
        return fmt::format("{:4}({}),c:{}:{}/{},t:{:.1f}/{:.1f}", object.getId(), name,
                           vod->detectionStatus, object.confidence, object.confidenceThreshold, age,
                           object.confidentTime());
    return fmt::format("{:4}({}),c:{}/{},t:{:.1f}", object.getId(), name, object.confidence,
                       object.confidenceThreshold, age);
}

bool VodTracker2::keepTracked(const TrackingObject& object, const std::string& text,
                              const TrackerScene& stored)
{
    const int id = object.getId();
    if (unconfidentId_ != id) {
        unconfidentId_ = id;
        unconfidentUpdates_ = 0;
    }
    if (object.isConfident()) {
        unconfidentUpdates_ = 0;
        const float still = object.moveTime();
        if (object.isHuman() || object.moving || still < kStationarySeconds)
            return true;
        quillonLog(LOG_INFO,
                   "VOD %s tracked object not human, stationary for %.2fs (stop tracking)\n",
                   text.c_str(), static_cast<double>(still));
        unsetTrackingObject(false);
        quillonLog(LOG_INFO,
                   "VOD %d (%s) tracked object h:%d m:%d stationary %.1fs, stop tracking\n", id,
                   text.c_str(), object.isHuman(), object.moving, static_cast<double>(still));
        return false;
    }
    unconfidentUpdates_++;
    const float unconfident = object.confidentTime();
    if (unconfident >= kUnconfidentSeconds) {
        unsetTrackingObject(false);
        quillonLog(LOG_INFO, "VOD %d (%s) tracked object not confident for %.1fs, stop tracking\n",
                   id, text.c_str(), static_cast<double>(unconfident));
        return false;
    }
    if (unconfidentUpdates_ % kUnconfidentLogEvery == 0)
        quillonLog(LOG_INFO, "VOD %s tracked object not confident for %.1fs visible:%d\n",
                   text.c_str(), static_cast<double>(unconfident), stored.isVisible(id));
    return true;
}

TrackerScene VodTracker2::buildReport(TrackerScene& stored)
{
    if (knownClasses_ == 0) {
        mergeClasses(holder().vodClient().detectorClassMap());
        quillonLog(LOG_INFO, "Vod types %zu\n", knownClasses_);
    }
    TrackerScene report = emptyReport(stored);
    bool trackedReported = false;
    for (const auto& object : stored.objects) {
        const int id = object->getId();
        object->typeName = label(*object);
        if (id != trackedId_) {
            object->flags = kFlagReported;
            report.addObject(object, true);
            // The Tracker's exclusions hold in the report, so an excluded
            // object is not selected again.
            if (stored.excludedIds.count(id) != 0)
                report.exclude(id);
            continue;
        }
        if (!keepTracked(*object, object->typeName, stored))
            continue;
        object->flags = kFlagReported | kFlagTracked;
        report.addObject(object, true);
        report.setTracked(id);
        trackedReported = true;
    }
    if (!trackedReported && trackedId_ >= 0)
        trackedId_ = -1;
    report.applyExclusions();
    return report;
}

} // namespace quillon
