#include "quillon/tracking/strategies/kine_tracker.h"

#include "quillon/core/log.h"
#include "quillon/inputs/kine/kine_client.h"
#include "quillon/inputs/kine/kine_scene_update_message.h"

namespace quillon
{

int followSceneTrackedId(TrackerScene& scene, int trackedId, bool fused,
                         const std::function<bool(int)>& setTracking)
{
    if (scene.trackedId == trackedId)
        return trackedId;
    const int next = scene.trackedId;
    if (next < 0) {
        if (fused)
            quillonLog(LOG_INFO, "Stopping tracking object with ID: %d (%d)\n", trackedId, 0);
        else
            quillonLog(LOG_INFO, "unsetTrackingObject with ID: %d (%d)\n", trackedId, 0);
        scene.setTracked(-1);
        return -1;
    }
    if (setTracking(next))
        return next;
    scene.setTracked(-1);
    return -1;
}

KineTracker::KineTracker(int channel, TrackerCallback callback, Tracker* tracker,
                         const SceneFeeds& feeds)
    : GenericTracker(channel, std::move(callback), tracker)
{
    // The scene feed numbers channels from 0.
    client = std::make_unique<KineClient>(channel - 1, sceneFeedsBus(feeds));
    if (feeds.startClients)
        client->start();
}

KineTracker::~KineTracker()
{
    quillonLog(LOG_INFO, "KineTracker destroy.\n");
    client.reset();
    quillonLog(LOG_INFO, "KineTracker destroyed.\n");
}

void KineTracker::prepareToShutdown()
{
    quillonLog(LOG_INFO, "MT:PrepareToShutdown\n");
    client->stop();
}

void KineTracker::handleMessage(const std::shared_ptr<Message>& message)
{
    if (auto update = std::dynamic_pointer_cast<KineSceneUpdateMessage>(message))
        step(update->update);
}

void KineTracker::step(const KineSceneUpdate& update)
{
    scene_.setTracked(trackedId_);
    scene_.applySceneUpdate(update);
    trackedId_ = followSceneTrackedId(scene_, trackedId_, false,
                                      [this](int id) { return setTrackingObject(id, false); });
    scene_.markReported(kSourceScene);
    report(scene_);
}

bool KineTracker::hasObject(int id)
{
    return scene_.findObject(id) != nullptr;
}

bool KineTracker::setTrackingObject(int id, bool force)
{
    auto object = scene_.findObject(id);
    if (!object || (scene_.excludedIds.count(id) != 0 && !force))
        return false;
    trackedId_ = id;
    scene_.setTracked(id);
    quillonLog(LOG_INFO, "Object with ID: %d set to tracking. (%d,%d)\n", id, force ? 1 : 0,
               object->confident ? 1 : 0);
    return true;
}

void KineTracker::unsetTrackingObject(bool exclude)
{
    quillonLog(LOG_INFO, "unsetTrackingObject with ID: %d (%d)\n", trackedId_, exclude ? 1 : 0);
    if (exclude && trackedId_ >= 0)
        scene_.exclude(trackedId_);
    trackedId_ = -1;
    scene_.setTracked(-1);
}

} // namespace quillon
