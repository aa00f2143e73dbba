#include "quillon/tracking/strategies/fusion_tracker3.h"

#include <algorithm>

#include "quillon/config/geometry/picture_format.h"
#include "quillon/config/settings/runtime_commands.h"
#include "quillon/core/channel.h"
#include "quillon/core/log.h"
#include "quillon/inputs/fusion/fusion_client.h"

namespace quillon
{

namespace
{

// Each analytics scene brings new objects: an id seen before keeps when it
// was first seen and since when it is moving and confident, so that its
// age and moving time grow as the scene engine's do.
void carryTimes(const TrackerScene& previous, TrackerScene& next)
{
    for (const auto& object : next.objects) {
        const auto old = previous.findObject(object->id);
        if (!old)
            continue;
        object->firstSeenUs = std::min(object->firstSeenUs, old->firstSeenUs);
        if (old->moving == object->moving)
            object->moveStateSinceUs = std::min(object->moveStateSinceUs, old->moveStateSinceUs);
        if (old->confident == object->confident)
            object->confidentSinceUs = std::min(object->confidentSinceUs, old->confidentSinceUs);
    }
}

} // namespace

FusionTracker3::FusionTracker3(int channel, TrackerCallback callback, Tracker* tracker,
                               const SceneFeeds& feeds)
    : GenericTracker(channel, std::move(callback), tracker),
      client_(std::make_unique<FusionClient>(channel))
{
    quillonLog(LOG_INFO, "FusionTracker3 create\n");
    client_->setRotation(pictureFormat().rotation);
    if (!feeds.startClients)
        return;
    Channel* bus = &sceneFeedsBus(feeds);
    client_->start(
        [bus](TrackerScene& scene, void* owner) {
            bus->post(std::make_unique<FusionSceneMessage>(std::move(scene), owner));
        },
        this);
}

FusionTracker3::~FusionTracker3()
{
    quillonLog(LOG_INFO, "FusionTracker3 destroy.\n");
    client_.reset();
    quillonLog(LOG_INFO, "FusionTracker3 destroyed.\n");
}

void FusionTracker3::prepareToShutdown()
{
    quillonLog(LOG_INFO, "FusionTracker3: Shutdown.\n");
    client_->stop();
}

void FusionTracker3::handleMessage(const std::shared_ptr<Message>& message)
{
    if (auto fused = std::dynamic_pointer_cast<FusionSceneMessage>(message)) {
        if (fused->owner == this)
            step(std::move(fused->scene));
    } else if (auto viewport =
                   std::dynamic_pointer_cast<TrackerSettingsMessage<viewport_configuration_t>>(
                       message)) {
        client_->setRotation(viewport->get().rotation);
    }
}

void FusionTracker3::step(TrackerScene next)
{
    const int previousTracked = scene_.trackedId;
    const int stoppedId = scene_.lastStoppedId;
    const std::int64_t stoppedAt = scene_.stoppedAtUs;
    const std::set<std::int32_t> excluded = scene_.excludedIds;

    carryTimes(scene_, next);
    scene_ = std::move(next);
    if (trackedId_ != previousTracked)
        quillonLog(LOG_WARNING, "Warning:Inconsistent tracking info %d != %d\n", trackedId_,
                   previousTracked);
    if (trackedId_ >= 0)
        scene_.setTracked(trackedId_);
    if (stoppedId != -1 && scene_.sceneTimeUs - stoppedAt < kStopMemoryUs) {
        scene_.lastStoppedId = stoppedId;
        scene_.stoppedAtUs = stoppedAt;
    }
    for (int id : excluded)
        scene_.exclude(id);
    scene_.applyExclusions();
    report(scene_);
}

bool FusionTracker3::hasObject(int id)
{
    return scene_.findObject(id) != nullptr;
}

bool FusionTracker3::setTrackingObject(int id, bool force)
{
    if (!scene_.findObject(id) || (scene_.excludedIds.count(id) != 0 && !force))
        return false;
    trackedId_ = id;
    scene_.setTracked(id);
    quillonLog(LOG_INFO, "Object with ID: %d set to tracking. (%d)\n", id, force ? 1 : 0);
    return true;
}

void FusionTracker3::unsetTrackingObject(bool exclude)
{
    quillonLog(LOG_INFO, "Stopping tracking object with ID: %d (%d)\n", trackedId_,
               exclude ? 1 : 0);
    if (trackedId_ >= 0) {
        if (exclude)
            scene_.exclude(trackedId_);
        scene_.lastStoppedId = trackedId_;
        scene_.stoppedAtUs = monotonicNowUs();
    }
    trackedId_ = -1;
    scene_.setTracked(-1);
}

} // namespace quillon
