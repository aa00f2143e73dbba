#include "quillon/tracking/tracker/tracker.h"

#include "quillon/core/channel.h"
#include "quillon/tracking/detections/vod_scene_holder.h"

namespace quillon
{

Tracker::Tracker(bool debug) : debug_(debug)
{
    vod_ = std::make_shared<VodSceneHolder>(channel_, debug_);
    Channel::instance().subscribe(vod_);
    vod_->start();
}

Tracker::~Tracker()
{
    prepareToShutdown();
}

TrackerScene Tracker::vodScene() const
{
    return vod_->snapshot();
}

void Tracker::handleMessage(const std::shared_ptr<Message>&) {}

void Tracker::prepareToShutdown()
{
    vod_->prepareToShutdown();
    Channel::instance().unsubscribe(vod_);
}

} // namespace quillon
