#pragma once

#include <memory>

#include "quillon/tracking/objects/scene_update.h"
#include "quillon/tracking/strategies/fusion_detections.h"
#include "quillon/tracking/strategies/generic_tracker.h"
#include "quillon/tracking/strategies/scene_feeds.h"

namespace quillon
{

class KineClient;

// Tracker type 2: every scene-engine object paired with the detection that
// best overlaps its motion-widened box; a pair is reported as one fused
// object (source 3) in the scene-engine object's place, with its id.
//
// Threads: every slot and both steps on the bus thread (scene-engine
// updates and detection frames both arrive as bus messages); the clients'
// threads only post. prepareToShutdown stops both clients.
class FusionTracker : public GenericTracker
{
public:
    static constexpr double kMinOverlap = 0.3;
    // Feeds further apart than this are not fused.
    static constexpr double kMaxLagSeconds = 0.5;

    FusionTracker(int channel, TrackerCallback callback, Tracker* tracker,
                  const SceneFeeds& feeds = {});
    ~FusionTracker() override;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;
    bool hasObject(int id) override;
    bool setTrackingObject(int id, bool force) override;
    void unsetTrackingObject(bool exclude) override;

    void kineStep(const KineSceneUpdate& update);
    void detectionStep(const VodSceneUpdateMessage& update);

    const TrackerScene& kineScene() const { return kine_; }
    const TrackerScene& fusedScene() const { return fused_; }
    FusionDetections& detections() { return detections_; }
    int trackedId() const { return trackedId_; }

private:
    void buildFusedScene();

    TrackerScene kine_;
    TrackerScene fused_;
    FusionDetections detections_;
    int trackedId_ = -1;
    std::unique_ptr<KineClient> client;
};

// The fused object of scene-engine object `k` and detection `v`: a copy of
// `v` with k's id and velocity, source 3, the union of both outlines and the
// class name `typeName`.
std::shared_ptr<TrackingObject> fuseObjects(const TrackingObject& k, const TrackingObject& v,
                                            const std::string& typeName);

} // namespace quillon
