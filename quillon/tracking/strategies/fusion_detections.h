#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quillon/inputs/vod/vod_client.h"
#include "quillon/inputs/vod/vod_object_type.h"
#include "quillon/tracking/objects/tracker_scene.h"
#include "quillon/tracking/strategies/scene_feeds.h"

namespace quillon
{

class VodPositionSource;
class VodSceneUpdateMessage;

// The detection side of the fused strategies: the detection store each
// VodSceneUpdateMessage of the bus is folded into, and the class map that
// names fused objects. The detection feed posts its frames on the bus
// whoever owns it; the client here subscribes only when nobody does yet (the
// Tracker keeps its own detection store on that feed).
//
// Threads: everything on the bus thread (construction, fold, stop); the
// client's own threads only post.
class FusionDetections
{
public:
    FusionDetections(int channel, const SceneFeeds& feeds);
    ~FusionDetections();

    void stop();
    // Folds one frame into the store (afresh when the feed subscribed
    // again: new ids name new objects).
    void fold(const VodSceneUpdateMessage& update, VodPositionSource* positions);
    const TrackerScene& scene() const { return scene_; }

    // Class name of a detection class id; empty when unknown.
    std::string typeName(std::int32_t objectType) const;
    void setClasses(const VodClassMap& classes) { classes_ = classes; }

private:
    VodClient client;
    VodClassMap classes_;
    TrackerScene scene_;
    std::uint64_t subscription = 0;
};

// Intersection over union of two boxes; 0 when they do not overlap.
float boxOverlap(const Box& a, const Box& b);

} // namespace quillon
