#include "quillon/tracking/strategies/fusion_tracker2.h"

#include <cstdlib>

#include "quillon/core/log.h"
#include "quillon/inputs/kine/kine_client.h"
#include "quillon/inputs/kine/kine_scene_update_message.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/tracking/strategies/fusion_tracker.h"

namespace quillon
{

namespace
{

// Time differences of this size or more never count as a match.
constexpr std::int64_t kMatchLimitUs = 100000LL * 1000000LL;
constexpr std::int64_t kSlowKineUs = 500000;
constexpr std::int64_t kStaleGraceUs = 10000000;
constexpr std::int64_t kStaleUs = 1000000;
constexpr int kStaleCountdown = 10;

void logBox(const char* tag, int id, const Box& b)
{
    quillonLog(LOG_INFO, "   %s: %4d [%.2f,%.2f,%.2f,%.2f] \n", tag, id, b.x, b.y, b.x + b.width,
               b.y + b.height);
}

} // namespace

FusionTracker2::FusionTracker2(int channel, TrackerCallback callback, Tracker* tracker,
                               const SceneFeeds& feeds)
    : GenericTracker(channel, std::move(callback), tracker), detections_(channel, feeds),
      createdAtUs_(monotonicNowUs())
{
    client = std::make_unique<KineClient>(channel - 1, sceneFeedsBus(feeds));
    if (feeds.startClients)
        client->start();
}

FusionTracker2::~FusionTracker2()
{
    quillonLog(LOG_INFO, "FusionTracker2 destroy.\n");
    client.reset();
    detections_.stop();
    quillonLog(LOG_INFO, "FusionTracker2 destroyed.\n");
}

void FusionTracker2::prepareToShutdown()
{
    detections_.stop();
    client->stop();
}

void FusionTracker2::handleMessage(const std::shared_ptr<Message>& message)
{
    if (auto kine = std::dynamic_pointer_cast<KineSceneUpdateMessage>(message))
        kineStep(kine->update);
    else if (auto vod = std::dynamic_pointer_cast<VodSceneUpdateMessage>(message))
        detectionStep(*vod);
}

void FusionTracker2::detectionStep(const VodSceneUpdateMessage& update)
{
    detections_.fold(update, positions_.get());
    const TrackerScene& latest = detections_.scene();
    // The stored objects are replaced, never changed, by later frames: the
    // history shares them.
    history_.push_back(latest);
    while (!history_.empty() && (history_.size() > kHistoryMax ||
                                 latest.sceneTimeUs - history_.front().sceneTimeUs > kHistoryUs))
        history_.pop_front();
    if (trackedFusedId_ >= 0 && !latest.findObject(trackedFusedId_)) {
        if (!vodMissingLogged_)
            quillonLog(LOG_ERR, "Error fetching tracked VOD object %d %zu\n", trackedFusedId_,
                       history_.size());
        vodMissingLogged_ = true;
    } else {
        vodMissingLogged_ = false;
    }
}

const TrackerScene& FusionTracker2::pickDetections(std::int64_t kineTimeUs)
{
    int best = -1;
    std::int64_t bestDiff = kMatchLimitUs;
    for (std::size_t i = 0; i < history_.size(); i++) {
        const std::int64_t diff = std::llabs(history_[i].sceneTimeUs - kineTimeUs);
        if (diff < bestDiff) {
            best = static_cast<int>(i);
            bestDiff = diff;
        }
    }
    lastPick_ = best;
    const TrackerScene* chosen = &detections_.scene();
    if (best >= 0)
        chosen = &history_[static_cast<std::size_t>(best)];
    else if (!history_.empty())
        quillonLog(LOG_WARNING, "Warning: best VOD time match = %d/%zu\n", -1, history_.size());
    const std::int64_t diff = kineTimeUs - chosen->sceneTimeUs;
    if (monotonicNowUs() - createdAtUs_ >= kStaleGraceUs && std::llabs(diff) > kStaleUs) {
        // The countdown holds the warning back for ten steps.
        if (staleCountdown_ == 0)
            quillonLog(LOG_WARNING, "Warning: Old VOD data at KINE update %.2fs (%.3f, %.3f)\n",
                       static_cast<double>(diff) / 1e6, static_cast<double>(kineTimeUs) / 1e6,
                       static_cast<double>(chosen->sceneTimeUs) / 1e6);
        staleCountdown_ = kStaleCountdown;
    }
    return *chosen;
}

void FusionTracker2::kineStep(const KineSceneUpdate& update)
{
    if (previousKineUs_ >= 0 && update.sceneTimeUs - previousKineUs_ > kSlowKineUs)
        quillonLog(LOG_WARNING, "Slow KINE data %.2f interval %.2fs latency:%.2fs\n",
                   static_cast<double>(update.sceneTimeUs) / 1e6,
                   static_cast<double>(update.sceneTimeUs - previousKineUs_) / 1e6,
                   static_cast<double>(monotonicNowUs() - update.sceneTimeUs) / 1e6);
    previousKineUs_ = update.sceneTimeUs;

    int kineTracked = -1;
    if (trackedFusedId_ >= 0) {
        auto it = fusedToKine_.find(trackedFusedId_);
        if (it == fusedToKine_.end())
            quillonLog(LOG_ERR, "Error fetching tracked KINE object %d\n", trackedFusedId_);
        else
            kineTracked = it->second;
    }
    kine_.setTracked(kineTracked);
    kine_.applySceneUpdate(update);

    if (staleCountdown_ > 0)
        staleCountdown_--;
    const TrackerScene& vod = pickDetections(update.sceneTimeUs);
    const int tracked = trackedFusedId_;
    updatePairs(vod);
    buildFusedScene(vod);
    if (trackedFusedId_ != tracked && trackedFusedId_ >= 0) {
        // The tracked pair now goes by another detection id.
        const int next = trackedFusedId_;
        trackedFusedId_ = tracked;
        setTrackingObject(next, true);
    }
    startup_ = false;
    fused_.markReported(kSourceFused);
    report(fused_);
}

void FusionTracker2::updatePairs(const TrackerScene& vod)
{
    std::map<int, Pair> next;
    // Second mode: a fused id is tracked; the list follows it and says so.
    const bool follow = !startup_ && trackedFusedId_ >= 0;
    int tracked = trackedFusedId_;
    bool dropped = false;
    // A detection that a pair of the previous list holds stays with it.
    auto free = [&](int vodId) { return pairs_.count(vodId) == 0 && next.count(vodId) == 0; };

    for (const auto& [key, pair] : pairs_) {
        const auto v = vod.findObject(pair.vodId);
        const auto k = kine_.findObject(pair.kineId);
        const bool isTracked = follow && key == tracked;
        Pair p = pair;
        if (v && k) {
            p.box = v->getBox();
            p.overlap = boxOverlap(p.box, k->getBox());
            next.emplace(key, p);
            continue;
        }
        if (v) {
            if (v->isConfident()) {
                const auto [kid, score] = kine_.findBestOverlap(v->getBox(), 1);
                if (kid >= 0) {
                    p.kineId = kid;
                    p.box = v->getBox();
                    p.overlap = score;
                    next.emplace(key, p);
                    continue;
                }
            }
            dropped = dropped || isTracked;
            continue;
        }
        if (k) {
            const auto [vid, score] = vod.findBestOverlap(k->getBox(), kMinDetectionConfidence);
            if (vid >= 0 && free(vid)) {
                const auto nv = vod.findObject(vid);
                next.emplace(vid, Pair{vid, pair.kineId, nv->getBox(), score});
                if (isTracked) {
                    quillonLog(LOG_INFO,
                               "  dropped VOD / found new similar VOD (kine ok)  id:%d->%d\n", key,
                               vid);
                    logBox("KINE", k->id, k->getBox());
                    logBox(" VOD", vid, nv->getBox());
                    tracked = vid;
                }
                continue;
            }
            if (isTracked) {
                quillonLog(LOG_INFO, "  dropped VOD no similar best:%.2f id:%d\n", score, key);
                dropped = true;
            }
            continue;
        }
        const auto [vid, score] = vod.findBestOverlap(pair.box, kMinDetectionConfidence);
        if (vid >= 0 && score > kPairOverlap && free(vid)) {
            const auto nv = vod.findObject(vid);
            if (!nv) {
                quillonLog(LOG_WARNING, "Found new VOD but not present in storage %d\n", vid);
            } else {
                next.emplace(vid, Pair{vid, pair.kineId, nv->getBox(), score});
                if (isTracked) {
                    quillonLog(
                        LOG_INFO,
                        "  dropped VOD / found new similar VOD (kine also gone)  id:%d->%d\n", key,
                        vid);
                    logBox(" VOD", vid, nv->getBox());
                    tracked = vid;
                }
                continue;
            }
        }
        if (isTracked) {
            quillonLog(LOG_INFO, "  dropped VOD no similar best:%.2f id:%d\n", score, key);
            dropped = true;
        }
    }

    for (const auto& v : vod.objects) {
        if (next.count(v->id) != 0 || v->confidence < kMinDetectionConfidence)
            continue;
        const auto [kid, score] = kine_.findBestOverlap(v->getBox(), 1);
        if (kid >= 0 && score >= kPairOverlap)
            next.emplace(v->id, Pair{v->id, kid, v->getBox(), score});
    }

    if (follow) {
        if (dropped) {
            quillonLog(LOG_WARNING,
                       "Warning tracking %d but didn't find it in fusion stage, internal error? "
                       "removed\n",
                       trackedFusedId_);
            tracked = -1;
        } else if (next.count(tracked) == 0) {
            quillonLog(
                LOG_WARNING,
                "Warning tracking %d but didn't find it in fusion stage, internal error? %d\n",
                tracked, static_cast<int>(next.size()));
        }
    }
    pairs_ = std::move(next);
    trackedFusedId_ = tracked;
}

void FusionTracker2::buildFusedScene(const TrackerScene& vod)
{
    TrackerScene fused(kine_.sceneTimeUs);
    fusedToKine_.clear();
    for (const auto& [key, p] : pairs_) {
        const auto v = vod.findObject(p.vodId);
        const auto k = kine_.findObject(p.kineId);
        std::shared_ptr<TrackingObject> object;
        if (v && k) {
            object = fuseObjects(*k, *v, detections_.typeName(v->objectType));
        } else if (v) {
            object = v->clone();
            object->typeName = detections_.typeName(v->objectType);
        } else if (k) {
            object = k->clone();
        } else {
            continue;
        }
        object->source = kSourceFused;
        object->id = key;
        fused.addObject(std::move(object), true);
        fusedToKine_[key] = p.kineId;
    }
    if (trackedFusedId_ >= 0 && !fused.setTracked(trackedFusedId_))
        trackedFusedId_ = -1;
    fused_ = std::move(fused);
}

bool FusionTracker2::hasObject(int id)
{
    return fused_.findObject(id) != nullptr;
}

bool FusionTracker2::setTrackingObject(int id, bool force)
{
    if (!fused_.findObject(id))
        return false;
    trackedFusedId_ = id;
    fused_.setTracked(id);
    auto it = fusedToKine_.find(id);
    kine_.setTracked(it == fusedToKine_.end() ? -1 : it->second);
    quillonLog(LOG_INFO, "Object with ID: %d set to tracking. (%d)\n", id, force ? 1 : 0);
    return true;
}

void FusionTracker2::unsetTrackingObject(bool exclude)
{
    quillonLog(LOG_INFO, "Stopping tracking object with ID: %d (%d)\n", trackedFusedId_,
               exclude ? 1 : 0);
    trackedFusedId_ = -1;
    fused_.setTracked(-1);
    kine_.setTracked(-1);
}

} // namespace quillon
