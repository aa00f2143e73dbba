// Folding of scene-engine updates into a TrackerScene.
#include "quillon/tracking/objects/scene_update.h"

#include <algorithm>

#include "quillon/core/log.h"
#include "quillon/tracking/objects/tracker_scene.h"

namespace quillon
{

namespace
{

// Objects of other sources that the scene engine does not keep visible are
// dropped after this long unseen.
constexpr std::int64_t kHiddenRemovalUs = 60000000;

// Merges the listed ids into event.objectId; the tracked id follows the
// merge. Returns the new tracked id.
int applyMerge(TrackerScene& scene, const KineEvent& event, int tracked)
{
    const int w = event.objectId;
    std::shared_ptr<TrackingObject> target = scene.findObject(w);
    const bool fresh = !target;
    if (fresh) {
        target = std::make_shared<TrackingObject>();
        target->id = w;
    }
    bool listed = false;
    bool missing = false;
    for (int f : event.objectIds) {
        if (f == w)
            listed = true;
        std::shared_ptr<TrackingObject> member = scene.findObject(f);
        if (!member) {
            missing = true;
            continue;
        }
        target->firstSeenUs = std::min(target->firstSeenUs, member->firstSeenUs);
        if (f != w)
            member->setConfidence(0);
        scene.updateObject(*member);
        if (f != w && f == tracked)
            tracked = w;
    }
    if (listed || missing)
        return tracked;
    if (fresh)
        scene.addObject(target, true);
    else
        scene.updateObject(*target);
    return tracked;
}

// Gives every new id of the list a copy of event.objectId; tracking moves to
// the latest new id unless the source id stays in the list. Returns the new
// tracked id.
int applySplit(TrackerScene& scene, const KineEvent& event, int tracked)
{
    const int s = event.objectId;
    std::shared_ptr<TrackingObject> source = scene.findObject(s);
    if (!source)
        return tracked;
    const bool wasTracked = s == tracked;
    bool stays = false;
    int latest = -1;
    bool haveLatest = false;
    for (int n : event.objectIds) {
        if (n == s) {
            stays = stays || wasTracked;
            continue;
        }
        if (scene.findObject(n))
            continue;
        std::shared_ptr<TrackingObject> copy = source->clone();
        copy->id = n;
        scene.addObject(copy, true);
        if (wasTracked) {
            latest = n;
            haveLatest = true;
        }
    }
    if (wasTracked && tracked >= 0 && !stays && haveLatest)
        tracked = latest;
    return tracked;
}

} // namespace

void TrackerScene::applySceneUpdate(const KineSceneUpdate& update)
{
    int tracked = trackedId;
    const std::int64_t previous = sceneTimeUs;
    markSourceUnseen(kSourceScene);

    for (const KineEvent& event : update.events)
        if (event.action == kKineMerge)
            tracked = applyMerge(*this, event, tracked);
    for (const KineEvent& event : update.events)
        if (event.action == kKineSplit)
            tracked = applySplit(*this, event, tracked);
    for (const KineEvent& event : update.events) {
        if (event.action != kKineDelete)
            continue;
        removeObject(event.objectId);
        if (event.objectId == tracked)
            tracked = -1;
    }

    for (const KineObject& object : update.objects) {
        auto copy = std::make_shared<KineObject>(object);
        if (updateObject(*copy) == -1)
            addObject(copy, true);
    }

    const auto snapshot = objects;
    for (const auto& object : snapshot) {
        const int id = object->getId();
        const std::int64_t age = previous - object->lastSeenUs;
        if (isVisible(id) || age < kHiddenRemovalUs)
            continue;
        quillonLog(LOG_WARNING, "Storage: Hidden for long time => remove %d (%lldus)\n", id,
                   static_cast<long long>(age / 1000));
        removeObject(id);
    }

    applyExclusions();
    if (trackedId != tracked)
        setTracked(tracked);
    setSceneTime(update.sceneTimeUs);
}

} // namespace quillon
