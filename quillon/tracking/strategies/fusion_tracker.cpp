#include "quillon/tracking/strategies/fusion_tracker.h"

#include <cmath>

#include "quillon/core/log.h"
#include "quillon/inputs/kine/kine_client.h"
#include "quillon/inputs/kine/kine_scene_update_message.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/tracking/strategies/kine_tracker.h"

namespace quillon
{

std::shared_ptr<TrackingObject> fuseObjects(const TrackingObject& k, const TrackingObject& v,
                                            const std::string& typeName)
{
    std::shared_ptr<TrackingObject> fused = v.clone();
    fused->source = kSourceFused;
    fused->id = k.id;
    fused->velocityX = k.velocityX;
    fused->velocityY = k.velocityY;
    fused->typeName = typeName;
    fused->shape = Polygon::unionBox(v.shape, k.shape);
    return fused;
}

FusionTracker::FusionTracker(int channel, TrackerCallback callback, Tracker* tracker,
                             const SceneFeeds& feeds)
    : GenericTracker(channel, std::move(callback), tracker), detections_(channel, feeds)
{
    quillonLog(LOG_INFO, "FusionTracker create\n");
    client = std::make_unique<KineClient>(channel - 1, sceneFeedsBus(feeds));
    if (feeds.startClients)
        client->start();
}

FusionTracker::~FusionTracker()
{
    quillonLog(LOG_INFO, "FusionTracker destroy.\n");
    client.reset();
    detections_.stop();
    quillonLog(LOG_INFO, "FusionTracker destroyed.\n");
}

void FusionTracker::prepareToShutdown()
{
    quillonLog(LOG_INFO, "FT:PrepareToShutdown\n");
    detections_.stop();
    client->stop();
    quillonLog(LOG_INFO, "FT: Shutdown.\n");
}

void FusionTracker::handleMessage(const std::shared_ptr<Message>& message)
{
    if (auto kine = std::dynamic_pointer_cast<KineSceneUpdateMessage>(message))
        kineStep(kine->update);
    else if (auto vod = std::dynamic_pointer_cast<VodSceneUpdateMessage>(message))
        detectionStep(*vod);
}

void FusionTracker::detectionStep(const VodSceneUpdateMessage& update)
{
    detections_.fold(update, positions_.get());
}

void FusionTracker::kineStep(const KineSceneUpdate& update)
{
    kine_.setTracked(trackedId_);
    kine_.applySceneUpdate(update);
    trackedId_ = followSceneTrackedId(kine_, trackedId_, true, [this](int id) {
        // The new id is reported once the fused scene holds it.
        trackedId_ = id;
        return true;
    });
    buildFusedScene();
    fused_.markReported(kSourceFused);
    report(fused_);
}

void FusionTracker::buildFusedScene()
{
    const TrackerScene& vod = detections_.scene();
    TrackerScene fused(kine_.sceneTimeUs);
    fused.excludedIds = kine_.excludedIds;
    const double d = static_cast<double>(kine_.sceneTimeUs - vod.sceneTimeUs) / 1e6;
    const bool inStep = std::fabs(d) < kMaxLagSeconds;
    for (const auto& k : kine_.objects) {
        std::shared_ptr<TrackingObject> object = k;
        if (inStep) {
            const Box box = k->getBox();
            const Point c = k->shape.centroid();
            const float halfW = box.width * (1.0f + std::fabs(k->velocityX)) * 0.5f;
            const float halfH = box.height * (1.0f + std::fabs(k->velocityY)) * 0.5f;
            const auto [id, score] = vod.findBestOverlap(
                {c.x - halfW, c.y - halfH, 2 * halfW, 2 * halfH}, k->confidenceThreshold);
            if (id >= 0 && score >= kMinOverlap) {
                auto v = vod.findObject(id);
                if (v)
                    object = fuseObjects(*k, *v, detections_.typeName(v->objectType));
            }
        }
        // Visible in the fused scene as it is in the scene engine's.
        fused.addObject(object, kine_.isVisible(k->id));
    }
    if (std::fabs(d) > kMaxLagSeconds)
        quillonLog(LOG_WARNING, "Warning big timediff KINE-time - VOD-time %.1fs\n", d);
    fused.applyExclusions();
    if (trackedId_ >= 0 && !fused.setTracked(trackedId_))
        quillonLog(LOG_WARNING, "Selected %d missing in FusedList...\n", trackedId_);
    fused_ = std::move(fused);
}

bool FusionTracker::hasObject(int id)
{
    return fused_.findObject(id) != nullptr;
}

bool FusionTracker::setTrackingObject(int id, bool force)
{
    auto object = fused_.findObject(id);
    if (!object || (fused_.excludedIds.count(id) != 0 && !force))
        return false;
    trackedId_ = id;
    fused_.setTracked(id);
    kine_.setTracked(id);
    quillonLog(LOG_INFO, "Object with ID: %d set to tracking. (%d,%d)\n", id, force ? 1 : 0,
               object->source);
    return true;
}

void FusionTracker::unsetTrackingObject(bool exclude)
{
    quillonLog(LOG_INFO, "Stopping tracking object with ID: %d (%d)\n", trackedId_,
               exclude ? 1 : 0);
    if (exclude && trackedId_ >= 0) {
        kine_.exclude(trackedId_);
        fused_.exclude(trackedId_);
        fused_.applyExclusions();
    }
    trackedId_ = -1;
    kine_.setTracked(-1);
    fused_.setTracked(-1);
}

} // namespace quillon
