#include "quillon/tracking/strategies/vod_strategy.h"

#include "quillon/core/log.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/tracking/detections/vod_scene_holder.h"

namespace quillon
{

VodStrategy::VodStrategy(std::string name, std::string tag, int channelNumber,
                         TrackerCallback callback, Tracker* tracker, bool debug, Channel& bus,
                         std::string classFile)
    : GenericTracker(channelNumber, std::move(callback), tracker), name_(std::move(name)),
      tag_(std::move(tag)), classFile_(std::move(classFile))
{
    quillonLog(LOG_INFO, "%s create\n", name_.c_str());
    holder_ = std::make_shared<VodSceneHolder>(channelNumber, debug, bus, classFile_);
}

VodStrategy::~VodStrategy()
{
    quillonLog(LOG_INFO, "%s destroy.\n", name_.c_str());
    holder_->stop();
    holder_.reset();
    quillonLog(LOG_INFO, "%s destroyed.\n", name_.c_str());
}

void VodStrategy::start()
{
    holder_->start();
}

void VodStrategy::handleMessage(const std::shared_ptr<Message>& message)
{
    auto update = std::dynamic_pointer_cast<VodSceneUpdateMessage>(message);
    if (!update)
        return;
    TrackerScene scene;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        const int before = trackedId_;
        const int after = holder_->fold(*update, before);
        followIdChange(before, after);
        if (!callback_)
            return;
        TrackerScene stored = holder_->snapshot();
        scene = buildReport(stored);
    }
    report(scene);
}

void VodStrategy::prepareToShutdown()
{
    quillonLog(LOG_INFO, "%s:PrepareToShutdown\n", tag_.c_str());
    holder_->stop();
    quillonLog(LOG_INFO, "%s: Shutdown.\n", tag_.c_str());
}

bool VodStrategy::hasObject(int id)
{
    return holder_->withScene(
        [id](TrackerScene& scene) { return scene.findObject(id) != nullptr; });
}

bool VodStrategy::setTrackingObject(int id, bool force)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    quillonLog(LOG_INFO, "VOD: Object with ID: %d set to tracking. (%d,%d)\n", id, trackedId_,
               force);
    return holder_->withScene([&](TrackerScene& scene) {
        if (!scene.findObject(id))
            return false;
        if (scene.excludedIds.count(id) != 0 && !force)
            return false;
        trackedId_ = id;
        scene.setTracked(id);
        return true;
    });
}

void VodStrategy::unsetTrackingObject(bool exclude)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    quillonLog(LOG_INFO, "Stopping tracking object with ID: %d (excl:%d)\n", trackedId_, exclude);
    holder_->withScene([&](TrackerScene& scene) {
        if (exclude && trackedId_ >= 0)
            scene.exclude(trackedId_);
        trackedId_ = -1;
        scene.setTracked(-1);
    });
}

void VodStrategy::setPositionSource(std::shared_ptr<VodPositionSource> source)
{
    holder_->setPositionSource(source);
    GenericTracker::setPositionSource(std::move(source));
}

int VodStrategy::trackedId() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return trackedId_;
}

TrackerScene VodStrategy::storedScene() const
{
    return holder_->snapshot();
}

TrackerScene VodStrategy::emptyReport(const TrackerScene& stored)
{
    TrackerScene report(stored.sceneTimeUs);
    report.hasPosition = stored.hasPosition;
    report.position = stored.position;
    return report;
}

} // namespace quillon
