#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>

#include "quillon/tracking/objects/scene_update.h"
#include "quillon/tracking/strategies/fusion_detections.h"
#include "quillon/tracking/strategies/generic_tracker.h"
#include "quillon/tracking/strategies/scene_feeds.h"

namespace quillon
{

class KineClient;

// Tracker type 3: a list of pairs, each joining one detection with one
// scene-engine object, kept from scene to scene and re-formed when either
// side goes away. Each scene-engine update is matched with the detection
// frame closest to it in time from a short history. A pair is reported as a
// fused object (source 3) whose id is the pair's detection id: a copy of the
// detection (class, confidence, times) with the scene engine's velocity and
// the union of both outlines; a pair whose detection is gone is the
// scene-engine object under the pair's id.
//
// History bound: detection frames older than 2 s behind the newest one are
// dropped, and at most 64 are kept (a 30 fps feed holds 60).
//
// While a fused id is tracked (after the first reported scene) the list
// follows the tracked pair: when its detection is replaced the tracked id
// moves to the new one, and every such change is logged.
//
// Threads: every slot and both steps on the bus thread; the clients'
// threads only post. prepareToShutdown stops both clients.
class FusionTracker2 : public GenericTracker
{
public:
    static constexpr std::int64_t kHistoryUs = 2000000;
    static constexpr std::size_t kHistoryMax = 64;
    static constexpr int kMinDetectionConfidence = 30;
    static constexpr float kPairOverlap = 0.5f;

    FusionTracker2(int channel, TrackerCallback callback, Tracker* tracker,
                   const SceneFeeds& feeds = {});
    ~FusionTracker2() override;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;
    bool hasObject(int id) override;
    bool setTrackingObject(int id, bool force) override;
    void unsetTrackingObject(bool exclude) override;

    void kineStep(const KineSceneUpdate& update);
    void detectionStep(const VodSceneUpdateMessage& update);

    // One pair of the list.
    struct Pair {
        int vodId = -1;
        int kineId = -1;
        Box box;             // the detection's box when last seen
        float overlap = 0.f; // of the two boxes at the last step
    };

    const TrackerScene& kineScene() const { return kine_; }
    const TrackerScene& fusedScene() const { return fused_; }
    const std::map<int, Pair>& pairs() const { return pairs_; }
    const std::deque<TrackerScene>& history() const { return history_; }
    FusionDetections& detections() { return detections_; }
    int trackedId() const { return trackedFusedId_; }
    // Countdown set by a stale detection match, one less per step.
    int staleCountdown() const { return staleCountdown_; }
    // Index in history() of the frame the last step used, -1 the latest.
    int lastPick() const { return lastPick_; }
    // Start of the clock that holds back the stale-detection warning (tests).
    void setCreatedAtUs(std::int64_t us) { createdAtUs_ = us; }

private:
    const TrackerScene& pickDetections(std::int64_t kineTimeUs);
    void updatePairs(const TrackerScene& vod);
    void buildFusedScene(const TrackerScene& vod);

    TrackerScene kine_;
    TrackerScene fused_;
    FusionDetections detections_;
    std::deque<TrackerScene> history_;
    std::map<int, Pair> pairs_;
    std::map<int, int> fusedToKine_;
    int trackedFusedId_ = -1;
    int staleCountdown_ = 0;
    int lastPick_ = -1;
    bool startup_ = true;
    bool vodMissingLogged_ = false;
    std::int64_t previousKineUs_ = -1;
    std::int64_t createdAtUs_;
    std::unique_ptr<KineClient> client;
};

} // namespace quillon
