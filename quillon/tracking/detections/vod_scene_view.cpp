#include "quillon/tracking/detections/vod_scene_view.h"

#include "quillon/core/log.h"
#include "quillon/inputs/vod/vod_object.h"

namespace quillon
{

namespace
{

const char* statusText(const VodObject& object)
{
    if (object.lost)
        return "lost";
    switch (object.detectionStatus) {
    case kVodTrackedConfident:
        return "confident";
    case kVodTrackedUnconfident:
        return "unconfident";
    default:
        return "untracked";
    }
}

} // namespace

void printVodView(const TrackerScene& scene, const VodSceneHolder::FeedStats& stats,
                  const VodClassMap& classes, bool positions, std::int64_t nowUs)
{
    scene.printStorage();
    std::size_t visible = 0, confident = 0, moving = 0;
    for (const auto& object : scene.objects) {
        visible += scene.isVisible(object->getId()) ? 1 : 0;
        confident += object->isConfident() ? 1 : 0;
        moving += object->moving ? 1 : 0;
    }
    const long long ageMs = stats.lastFrameAtUs != 0
                                ? static_cast<long long>((nowUs - stats.lastFrameAtUs) / 1000)
                                : -1;
    quillonLog(LOG_INFO,
               "VOD scene: %.1f frames/s, last frame %lld ms ago, %zu objects, %zu visible, %zu "
               "confident, %zu moving, tracked %d, positions: %s\n",
               stats.framesPerSecond, ageMs, scene.objects.size(), visible, confident, moving,
               scene.trackedId, positions ? "known" : "none");
    for (const auto& object : scene.objects) {
        auto* vod = dynamic_cast<const VodObject*>(object.get());
        if (vod == nullptr)
            continue;
        auto cls = classes.find(vod->objectType);
        const Box box = vod->getBox();
        quillonLog(LOG_INFO,
                   "  VOD %d %s %s score %d/%d box (%.3f, %.3f) %.3fx%.3f pan/tilt %.2f/%.2f "
                   "moving %d moveTime %.1f\n",
                   vod->getId(), cls != classes.end() ? cls->second.name.c_str() : "?",
                   statusText(*vod), vod->confidence, vod->confidenceThreshold,
                   static_cast<double>(box.x), static_cast<double>(box.y),
                   static_cast<double>(box.width), static_cast<double>(box.height),
                   static_cast<double>(vod->latestPanTilt.x),
                   static_cast<double>(vod->latestPanTilt.y), vod->moving,
                   static_cast<double>(vod->moveTime()));
    }
}

} // namespace quillon
