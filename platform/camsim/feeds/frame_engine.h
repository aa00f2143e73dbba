#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "projector.h"
#include "scenario.h"

namespace camsim::feeds
{

// Detection statuses and event actions, as numbered on the wire.
enum DetectionStatus { kUntracked = 0, kTrackedUnconfident = 1, kTrackedConfident = 2 };
enum VodAction { kVodDelete = 0, kVodConnect = 1 };
enum SceneAction { kSceneDelete = 0, kSceneSplit = 1, kSceneMerge = 2 };

struct Detection {
    std::uint32_t id = 0;
    std::uint32_t detClass = 0;
    std::string analyticsType;
    Box box;
    std::uint32_t score = 0; // percent
    int status = kUntracked;
};

struct TrackEvent {
    int action = 0;
    std::int32_t objectId = 0;
    std::vector<std::int32_t> objectIds;
};

struct SceneObject {
    std::uint32_t id = 0;
    float confidence = 0.0f; // 1 once the tracker is confident
    Box box;
    float vx = 0.0f; // device units per second
    float vy = 0.0f;
    bool lowConfidence = false;
};

// One analysed frame, as all three feeds describe it.
struct Frame {
    std::int64_t captureNs = 0;  // CLOCK_MONOTONIC
    std::int64_t realtimeNs = 0; // CLOCK_REALTIME at the same moment
    int rotation = 0;
    std::vector<Detection> detections;
    std::vector<TrackEvent> vodEvents;
    std::vector<SceneObject> sceneObjects;
    std::vector<TrackEvent> sceneEvents;
    std::vector<ObjectView> views; // one per scenario object (trace, tests)
    std::vector<bool> present;     // object in the scene at all
    std::vector<bool> occluded;    // object hidden behind an occluder or a nearer object
};

// Runs the simulated detector and scene tracker over a scenario: each call of
// render() is one analysed frame at scenario time t, seen from `pose`. Track
// ids, statuses, deletions, id switches (connect), merges and splits follow
// from what the camera sees. Deterministic for a given seed and sequence of
// calls. Single-threaded.
class FrameEngine
{
public:
    explicit FrameEngine(Scenario scenario);

    const Scenario& scenario() const { return scenario_; }

    Frame render(double t, const ViewPose& pose);
    // Where the objects are at t, without touching the detector state.
    std::vector<ObjectView> look(double t, const ViewPose& pose,
                                 std::vector<bool>* present = nullptr);
    // Forgets every track (scenario restart); the next frame starts afresh.
    void reset();

    // The detector's view of object i in the last frame rendered: whether it
    // was detected, and its detection-feed track id (-1 while it has none).
    bool detected(std::size_t i) const { return tracks_.at(i).detected; }
    int trackId(std::size_t i) const { return tracks_.at(i).vodId; }

private:
    struct Track {
        int vodId = -1;
        int sceneId = -1;
        int mergedInto = -1; // index of the object whose scene track absorbed this one
        double firstSeen = 0.0;
        double lastSeen = 0.0;
        int framesSeen = 0;
        std::size_t nextSwitch = 0;
        bool detected = false; // in the current frame
        Box box;               // reported box in the current frame
        Box lastSceneBox;
        double lastSceneT = -1.0;
    };

    int newId() { return nextId_++; }
    Detection detect(std::size_t i, const ObjectView& view, double t);
    void endTrack(std::size_t i, Frame& frame);
    void mergeAndSplit(Frame& frame);
    void sceneObjects(Frame& frame, double t);
    std::vector<bool> occlusion(const std::vector<ObjectView>& views,
                                const std::vector<bool>& present, const ViewPose& pose);

    Scenario scenario_;
    Projector projector_;
    std::vector<Track> tracks_;
    int nextId_ = 1;
    std::mt19937 rng_;
};

} // namespace camsim::feeds
