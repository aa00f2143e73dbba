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

// The confident state, and the instant it last changed, agree with the
// score against the threshold: a detection is built with the state clear
// whatever its score, and a class change moves the threshold under an
// unchanged score. Without this a confident object that turns unconfident
// would count its unconfident time from its first sighting.
void settleConfident(TrackingObject& object)
{
    const bool now = object.confidence >= object.confidenceThreshold;
    if (now != object.confident) {
        object.confident = now;
        object.confidentSinceUs = object.lastSeenUs;
    }
}

// Box-centre displacement per second between the stored object's last
// detection and this one; zero when the stored object has no box (it was
// lost) or the samples are not in time order.
Point velocity(const VodObject& stored, Point to, std::int64_t time)
{
    const std::int64_t interval = time - stored.detectedUs;
    if (stored.lost || interval <= 0)
        return {0.0f, 0.0f};
    const Point from = stored.getBox().centre();
    const double seconds = static_cast<double>(interval) / 1e6;
    return {static_cast<float>((to.x - from.x) / seconds),
            static_cast<float>((to.y - from.y) / seconds)};
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
    settleConfident(object);
    object.detectionStatus = detection.detectionStatus;
    object.shape = detection.shape;
    const Box detected = detection.getBox();
    const Point to = detected.centre();
    // A restarted id's stored box belongs to another object.
    const Point perSecond = restarted ? Point{0.0f, 0.0f} : velocity(stored, to, time);
    object.velocityX = perSecond.x;
    object.velocityY = perSecond.y;
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
        auto added = std::make_shared<VodObject>(detection);
        // Its confident and moving states start with this sighting.
        added->setTime(update.sceneTimeUs);
        settleConfident(*added);
        next.addObject(added, true);
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
