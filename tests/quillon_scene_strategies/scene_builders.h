#pragma once

// Hand-built scene-engine updates and detection frames, and a callback that
// records what a strategy reports.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/tracking/objects/scene_update.h"
#include "quillon/tracking/strategies/generic_tracker.h"
#include "quillon/tracking/strategies/scene_feeds.h"

namespace scenetest
{

using namespace quillon;

constexpr std::int64_t kSecond = 1000000;

// A box from its corners (device coordinates).
struct Rect {
    float x1, x2, y1, y2;
};

struct Kine {
    int id;
    Rect box;
    float vx = 0.0f;
    float vy = 0.0f;
    int confidence = 1;
};

struct Det {
    int id;
    Rect box;
    int score = 80;
    int classId = 0;
};

KineSceneUpdate kineUpdate(std::int64_t t, const std::vector<Kine>& objects,
                           std::vector<KineEvent> events = {});
std::shared_ptr<VodSceneUpdateMessage> detections(std::int64_t t, const std::vector<Det>& objects,
                                                  std::vector<VodEvent> events = {},
                                                  std::uint64_t subscription = 1);
KineEvent kineDelete(int id);
VodEvent vodDelete(int id);

// Feeds of a strategy built for tests: no clients.
SceneFeeds noFeeds();

// Copies of the reported scenes.
struct Reports {
    std::vector<TrackerScene> scenes;
    TrackerCallback callback();
    const TrackerScene& last() const { return scenes.back(); }
};

// Ids of the scene's objects in order.
std::vector<int> ids(const TrackerScene& scene);

// Starts capturing log lines (mirrored to stderr) / returns them.
void captureLog();
std::string capturedLog();

} // namespace scenetest
