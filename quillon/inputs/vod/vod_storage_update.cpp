#include "quillon/inputs/vod/vod_storage_update.h"

#include <set>

#include "quillon/core/log.h"
#include "quillon/inputs/vod/vod_position_source.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"

namespace quillon
{

namespace
{

// A missed object is dropped when its last detection is older than this
// (against the previous scene time).
constexpr std::int64_t kLostRemovalUs = 29999999;

constexpr float kUnknown = VodHistorySample::kUnknown;

struct EventEffects {
    std::set<int> deleted;
    std::set<int> restarted; // ids that now name another object
};

EventEffects applyEvents(const TrackerScene& previous, const VodSceneUpdateMessage& update,
                         int& tracked)
{
    EventEffects effects;
    for (const VodEvent& event : update.events) {
        if (event.action != kVodEventDelete && event.action != kVodEventConnect) {
            quillonLog(LOG_WARNING, "Event with unknown id %d \n", event.action);
            continue;
        }
        if (event.action == kVodEventDelete) {
            if (previous.findObject(event.objectId))
                effects.deleted.insert(event.objectId);
            continue;
        }
        for (int c : event.objectIds) {
            if (c == event.objectId)
                continue;
            quillonLog(LOG_INFO, "Event: Connect object %d to %d\n", event.objectId, c);
            if (event.objectId == tracked) {
                quillonLog(LOG_INFO, "Event: New id source of tracked object object %d => %d\n",
                           event.objectId, c);
                tracked = c;
            } else if (c == tracked) {
                quillonLog(LOG_INFO, "Event: New id target of tracked object object %d => %d\n", c,
                           event.objectId);
                effects.restarted.insert(tracked);
            }
        }
    }
    return effects;
}

// Refreshes a copy of the stored object from this frame's detection of it.
void refresh(VodObject& object, const VodObject& detection, const VodObject& stored,
             const TrackerScene& next, VodPositionSource* positions, bool restarted, bool tracked)
{
    const std::int64_t time = next.sceneTimeUs;
    if (restarted)
        object.resetMotion();
    if (object.lost)
        object.setLost(false);
    if (detection.objectType != object.objectType) {
        object.objectType = detection.objectType;
        object.confidenceThreshold = detection.confidenceThreshold;
        object.human = detection.human;
    }
    object.setConfidence(detection.confidence);
    object.detectionStatus = detection.detectionStatus;
    object.shape = detection.shape;
    const Box detected = detection.getBox();
    const Point from = stored.getBox().centre();
    const Point to = detected.centre();
    object.velocityX = to.x - from.x;
    object.velocityY = to.y - from.y;
    object.source = kSourceDetection;
    object.setTime(time);
    object.detectedUs = time;
    if (!next.hasPosition)
        return;
    Point panTilt{kUnknown, kUnknown};
    if (!positions->screenToPanTilt(to, next.position, panTilt))
        panTilt = {kUnknown, kUnknown};
    object.latestPanTilt = panTilt;
    const PositionRecord& p = next.position;
    object.appendHistory({p.pan, p.tilt}, {p.horizontalFov, p.verticalFov}, panTilt, detected,
                         detection.detectionStatus, detection.confidence, time, tracked);
}

} // namespace

TrackerScene updateVodStorage(const TrackerScene& previous, const VodSceneUpdateMessage& update,
                              VodPositionSource* positions)
{
    TrackerScene next(update.sceneTimeUs);
    int tracked = previous.trackedId;
    if (positions != nullptr && positions->positionAt(update.sceneTimeUs, next.position))
        next.hasPosition = true;

    const EventEffects effects = applyEvents(previous, update, tracked);
    std::set<int> updated;
    bool trackedPresent = false;
    for (const auto& stored : previous.objects) {
        const int id = stored->getId();
        auto* vod = dynamic_cast<const VodObject*>(stored.get());
        if (vod == nullptr) {
            quillonLog(LOG_WARNING, "VOD object %d not VOD\n", id);
            continue;
        }
        const bool excluded = previous.excludedIds.count(id) != 0;
        auto detection = update.objects.find(id);
        if (detection != update.objects.end()) {
            auto copy = std::make_shared<VodObject>(*vod);
            refresh(*copy, detection->second, *vod, next, positions,
                    effects.restarted.count(id) != 0, id == tracked);
            next.addObject(copy, true);
            updated.insert(id);
        } else if (effects.deleted.count(id) == 0) {
            auto copy = std::make_shared<VodObject>(*vod);
            copy->setConfidence(0);
            copy->detectionStatus = kVodTrackedUnconfident;
            copy->setLost(true);
            copy->setTime(update.sceneTimeUs);
            next.addObject(copy, false);
        } else {
            continue;
        }
        // Exclusions hold through misses too, until the object is removed.
        if (excluded)
            next.exclude(id);
        if (id == tracked)
            trackedPresent = true;
    }
    for (const auto& [id, detection] : update.objects) {
        if (updated.count(id) != 0)
            continue;
        next.addObject(std::make_shared<VodObject>(detection), true);
        // The tracked id may have moved to an id first seen in this frame.
        if (id == tracked)
            trackedPresent = true;
    }
    if (tracked >= 0 && trackedPresent)
        next.setTracked(tracked);

    const auto snapshot = next.objects;
    for (const auto& object : snapshot) {
        const int id = object->getId();
        if (!next.isVisible(id) && previous.sceneTimeUs - object->detectedUs > kLostRemovalUs)
            next.removeObject(id);
    }
    return next;
}

} // namespace quillon
