#pragma once

#include <memory>

#include "quillon/tracking/objects/scene_update.h"
#include "quillon/tracking/strategies/generic_tracker.h"
#include "quillon/tracking/strategies/scene_feeds.h"

namespace quillon
{

class KineClient;

// Follows the scene engine's objects (tracker type 0 and unknown types):
// each KineSceneUpdateMessage of the bus is folded into the stored scene,
// which is reported to the Tracker.
//
// Threads: every slot and step on the bus thread; the client's library
// thread only posts messages. prepareToShutdown stops the client, after
// which nothing more is posted.
class KineTracker : public GenericTracker
{
public:
    KineTracker(int channel, TrackerCallback callback, Tracker* tracker,
                const SceneFeeds& feeds = {});
    ~KineTracker() override;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;
    bool hasObject(int id) override;
    bool setTrackingObject(int id, bool force) override;
    void unsetTrackingObject(bool exclude) override;

    // One scene-engine update.
    void step(const KineSceneUpdate& update);
    const TrackerScene& scene() const { return scene_; }
    int trackedId() const { return trackedId_; }

private:
    TrackerScene scene_;
    int trackedId_ = -1;
    std::unique_ptr<KineClient> client;
};

// Follows a tracked id that a scene-engine update changed in `scene`
// (merge, split, delete): -1 logs the clear line of the plain or `fused`
// strategies and clears tracking; another id is taken through `setTracking`
// (cleared when it refuses). Returns the tracked id afterwards.
int followSceneTrackedId(TrackerScene& scene, int trackedId, bool fused,
                         const std::function<bool(int)>& setTracking);

} // namespace quillon
