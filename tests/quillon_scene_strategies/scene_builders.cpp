#include "scene_builders.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace scenetest
{

namespace
{

// Log lines are mirrored to stderr, where the tests read them; the mirror is
// chosen at the first log line.
const bool kLogMirror = setenv("QUILLON_LOG_STDERR", "1", 1) == 0;

} // namespace

KineSceneUpdate kineUpdate(std::int64_t t, const std::vector<Kine>& objects,
                           std::vector<KineEvent> events)
{
    KineSceneUpdate u;
    u.sceneTimeUs = t;
    for (const Kine& k : objects) {
        KineObject o;
        o.source = kSourceScene;
        o.id = k.id;
        o.confidenceThreshold = 1;
        o.setConfidence(k.confidence);
        o.shape = Polygon::box(k.box.x1, k.box.x2, k.box.y1, k.box.y2);
        o.velocityX = k.vx;
        o.velocityY = k.vy;
        o.setTime(t);
        o.setMoving(true);
        u.objects.push_back(o);
    }
    u.events = std::move(events);
    return u;
}

std::shared_ptr<VodSceneUpdateMessage> detections(std::int64_t t, const std::vector<Det>& objects,
                                                  std::vector<VodEvent> events,
                                                  std::uint64_t subscription)
{
    auto m = std::make_shared<VodSceneUpdateMessage>();
    m->sceneTimeUs = t;
    m->subscription = subscription;
    for (const Det& d : objects)
        m->objects.emplace(
            d.id, VodObject(d.id, t, Polygon::box(d.box.x1, d.box.x2, d.box.y1, d.box.y2), d.score,
                            30, d.classId, d.classId == 0, kVodTrackedConfident, true));
    m->events = std::move(events);
    return m;
}

KineEvent kineDelete(int id)
{
    KineEvent e;
    e.action = kKineDelete;
    e.objectId = id;
    return e;
}

VodEvent vodDelete(int id)
{
    VodEvent e;
    e.action = kVodEventDelete;
    e.objectId = id;
    return e;
}

SceneFeeds noFeeds()
{
    SceneFeeds feeds;
    feeds.startClients = false;
    return feeds;
}

TrackerCallback Reports::callback()
{
    return [this](TrackerScene& scene, Tracker*) { scenes.push_back(scene.deepCopy()); };
}

std::vector<int> ids(const TrackerScene& scene)
{
    std::vector<int> out;
    for (const auto& o : scene.objects)
        out.push_back(o->id);
    return out;
}

void captureLog()
{
    (void)kLogMirror;
    testing::internal::CaptureStderr();
}

std::string capturedLog()
{
    return testing::internal::GetCapturedStderr();
}

} // namespace scenetest
