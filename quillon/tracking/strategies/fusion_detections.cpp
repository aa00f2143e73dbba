#include "quillon/tracking/strategies/fusion_detections.h"

#include <algorithm>

#include "quillon/core/channel.h"
#include "quillon/inputs/vod/vod_object_class_settings.h"
#include "quillon/inputs/vod/vod_parser.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/inputs/vod/vod_storage_update.h"

namespace quillon
{

Channel& sceneFeedsBus(const SceneFeeds& feeds)
{
    return feeds.bus != nullptr ? *feeds.bus : Channel::instance();
}

FusionDetections::FusionDetections(int channel, const SceneFeeds& feeds)
    : client(channel, sceneFeedsBus(feeds))
{
    if (!feeds.startClients)
        return;
    VodObjectClassSettings settings(feeds.vodClassFile);
    client.setObjectClasses(settings.loadOrCreate(), true);
    classes_ = client.objectClasses();
    if (!VodParser::instance().hasSubscription())
        client.start();
}

FusionDetections::~FusionDetections()
{
    stop();
}

void FusionDetections::stop()
{
    client.stop();
}

void FusionDetections::fold(const VodSceneUpdateMessage& update, VodPositionSource* positions)
{
    if (update.subscription != subscription) {
        subscription = update.subscription;
        scene_ = TrackerScene(update.sceneTimeUs);
    }
    scene_ = updateVodStorage(scene_, update, positions);
}

std::string FusionDetections::typeName(std::int32_t objectType) const
{
    auto it = classes_.find(objectType);
    return it == classes_.end() ? std::string() : it->second.name;
}

float boxOverlap(const Box& a, const Box& b)
{
    const float w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const float h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    if (w <= 0.0f || h <= 0.0f)
        return 0.0f;
    const float intersection = w * h;
    return intersection / (a.area() + b.area() - intersection);
}

} // namespace quillon
