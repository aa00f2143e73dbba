#include "frame_engine.h"

#include <algorithm>
#include <cmath>

namespace camsim::feeds
{

namespace
{

// Frames and seconds a new track needs before the tracker reports it as
// tracked, and then as confidently tracked.
constexpr int kFramesUntilTracked = 3;
constexpr double kSecondsUntilConfident = 1.0;

std::string defaultConfusion(const std::string& cls)
{
    if (cls == "human")
        return "animal";
    if (cls == "bike" || cls == "animal")
        return "human";
    return "bike";
}

Box unite(const Box& a, const Box& b)
{
    return {std::min(a.left, b.left), std::max(a.top, b.top), std::max(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

// Share of `box` covered by the union of `covers`, sampled on a grid (the
// union of overlapping rectangles has no cheap exact area).
double coveredShare(const Box& box, const std::vector<Box>& covers)
{
    constexpr int kGrid = 10;
    if (covers.empty() || box.area() <= 0.0f)
        return 0.0;
    int hit = 0;
    for (int i = 0; i < kGrid; i++) {
        float u = box.left + box.width() * (static_cast<float>(i) + 0.5f) / kGrid;
        for (int j = 0; j < kGrid; j++) {
            float v = box.bottom + box.height() * (static_cast<float>(j) + 0.5f) / kGrid;
            hit += std::any_of(covers.begin(), covers.end(), [u, v](const Box& c) {
                return u >= c.left && u <= c.right && v >= c.bottom && v <= c.top;
            });
        }
    }
    return static_cast<double>(hit) / (kGrid * kGrid);
}

} // namespace

FrameEngine::FrameEngine(Scenario scenario)
    : scenario_(std::move(scenario)), tracks_(scenario_.objects.size()),
      rng_(scenario_.detector.seed)
{
}

void FrameEngine::reset()
{
    tracks_.assign(scenario_.objects.size(), Track{});
    for (std::size_t i = 0; i < tracks_.size(); i++)
        tracks_[i].nextSwitch = 0;
}

std::vector<ObjectView> FrameEngine::look(double t, const ViewPose& pose,
                                          std::vector<bool>* present)
{
    projector_.setPose(pose);
    std::vector<ObjectView> views(scenario_.objects.size());
    if (present != nullptr)
        present->assign(scenario_.objects.size(), false);
    for (std::size_t i = 0; i < scenario_.objects.size(); i++) {
        const ObjectSpec& o = scenario_.objects[i];
        if (auto pos = objectPositionAt(o, t)) {
            views[i] = projector_.view(scenario_.camera.height, *pos, o);
            if (present != nullptr)
                (*present)[i] = true;
        } else {
            // Not in the scene: the direction of where it would be, for plots.
            ObjectSpec always = o;
            always.enter = 0.0;
            always.exit.reset();
            auto p = objectPositionAt(always, std::max(t, 0.0));
            Projector::direction(p->x, p->y, o.height / 2, scenario_.camera.height, views[i].pan,
                                 views[i].tilt);
        }
    }
    return views;
}

Detection FrameEngine::detect(std::size_t i, const ObjectView& view, double t)
{
    const DetectorSpec& d = scenario_.detector;
    const ObjectSpec& o = scenario_.objects[i];
    Track& tr = tracks_[i];
    Detection det;
    det.id = static_cast<std::uint32_t>(tr.vodId);

    std::string cls = o.cls;
    if (d.classConfusion > 0.0 &&
        std::uniform_real_distribution<double>(0, 1)(rng_) < d.classConfusion)
        cls = o.confusedClass.empty() ? defaultConfusion(o.cls) : o.confusedClass;
    det.detClass = static_cast<std::uint32_t>(detectorClassOf(cls));
    det.analyticsType = analyticsTypeOf(cls);

    det.box = view.box;
    if (d.boxNoise > 0.0) {
        std::normal_distribution<float> nx(0.0f, static_cast<float>(d.boxNoise) * view.box.width());
        std::normal_distribution<float> ny(0.0f,
                                           static_cast<float>(d.boxNoise) * view.box.height());
        det.box.left += nx(rng_);
        det.box.right += nx(rng_);
        det.box.top += ny(rng_);
        det.box.bottom += ny(rng_);
        if (det.box.right < det.box.left)
            std::swap(det.box.left, det.box.right);
        if (det.box.top < det.box.bottom)
            std::swap(det.box.top, det.box.bottom);
        det.box.left = std::clamp(det.box.left, -1.0f, 1.0f);
        det.box.right = std::clamp(det.box.right, -1.0f, 1.0f);
        det.box.top = std::clamp(det.box.top, -1.0f, 1.0f);
        det.box.bottom = std::clamp(det.box.bottom, -1.0f, 1.0f);
    }

    double score = d.scoreMean;
    double h = view.box.height();
    if (h < d.smallSize && d.smallSize > 0.0)
        score *= 0.5 + 0.5 * h / d.smallSize; // small objects are harder
    for (const ScoreWindow& w : o.scoreWindows)
        if (t >= w.from && t < w.to)
            score = w.score;
    if (d.scoreNoise > 0.0)
        score += std::normal_distribution<double>(0.0, d.scoreNoise)(rng_);
    det.score = static_cast<std::uint32_t>(std::clamp(score, 1.0, 99.0));

    if (tr.framesSeen < kFramesUntilTracked)
        det.status = kUntracked;
    else if (t - tr.firstSeen < kSecondsUntilConfident)
        det.status = kTrackedUnconfident;
    else
        det.status = kTrackedConfident;
    return det;
}

void FrameEngine::endTrack(std::size_t i, Frame& frame)
{
    Track& tr = tracks_[i];
    frame.vodEvents.push_back({kVodDelete, tr.vodId, {}});
    if (tr.mergedInto < 0)
        frame.sceneEvents.push_back({kSceneDelete, tr.sceneId, {}});
    // Tracks merged into this one carry on under ids of their own.
    for (std::size_t j = 0; j < tracks_.size(); j++) {
        if (tracks_[j].mergedInto == static_cast<int>(i)) {
            tracks_[j].mergedInto = -1;
            tracks_[j].sceneId = newId();
        }
    }
    tr = Track{-1, -1, -1, 0.0, 0.0, 0, tr.nextSwitch, false, {}, {}, -1.0};
}

void FrameEngine::mergeAndSplit(Frame& frame)
{
    const DetectorSpec& d = scenario_.detector;
    // Splits first: an absorbed track whose keeper is gone or far away.
    for (std::size_t i = 0; i < tracks_.size(); i++) {
        Track& tr = tracks_[i];
        if (tr.mergedInto < 0 || !tr.detected)
            continue;
        const Track& keeper = tracks_[static_cast<std::size_t>(tr.mergedInto)];
        if (keeper.detected && overlap(keeper.box, tr.box) >= static_cast<float>(d.splitOverlap))
            continue;
        tr.sceneId = newId();
        frame.sceneEvents.push_back({kSceneSplit, keeper.sceneId, {tr.sceneId}});
        tr.mergedInto = -1;
        tr.lastSceneT = -1.0;
    }
    // Then merges of two separate tracks that overlap a lot; the younger id
    // goes into the older.
    for (std::size_t i = 0; i < tracks_.size(); i++) {
        for (std::size_t j = 0; j < tracks_.size(); j++) {
            Track& a = tracks_[i];
            Track& b = tracks_[j];
            if (i == j || !a.detected || !b.detected || a.mergedInto >= 0 || b.mergedInto >= 0 ||
                a.sceneId >= b.sceneId)
                continue;
            if (overlap(a.box, b.box) < static_cast<float>(d.mergeOverlap))
                continue;
            bool bKeepsOthers = std::any_of(tracks_.begin(), tracks_.end(), [j](const Track& t) {
                return t.mergedInto == static_cast<int>(j);
            });
            if (bKeepsOthers)
                continue;
            b.mergedInto = static_cast<int>(i);
            frame.sceneEvents.push_back({kSceneMerge, a.sceneId, {b.sceneId}});
        }
    }
}

void FrameEngine::sceneObjects(Frame& frame, double t)
{
    for (std::size_t i = 0; i < tracks_.size(); i++) {
        Track& tr = tracks_[i];
        if (!tr.detected || tr.mergedInto >= 0)
            continue;
        SceneObject so;
        so.id = static_cast<std::uint32_t>(tr.sceneId);
        so.box = tr.box;
        for (const Track& other : tracks_)
            if (other.detected && other.mergedInto == static_cast<int>(i))
                so.box = unite(so.box, other.box);
        bool confident =
            tr.framesSeen >= kFramesUntilTracked && t - tr.firstSeen >= kSecondsUntilConfident;
        so.lowConfidence = !confident;
        so.confidence = confident ? 1.0f : 0.5f;
        if (tr.lastSceneT >= 0.0 && t > tr.lastSceneT) {
            float dt = static_cast<float>(t - tr.lastSceneT);
            so.vx =
                ((so.box.left + so.box.right) - (tr.lastSceneBox.left + tr.lastSceneBox.right)) /
                2 / dt;
            so.vy =
                ((so.box.top + so.box.bottom) - (tr.lastSceneBox.top + tr.lastSceneBox.bottom)) /
                2 / dt;
        }
        tr.lastSceneBox = so.box;
        tr.lastSceneT = t;
        frame.sceneObjects.push_back(so);
    }
}

// Which objects nearer things hide: occluders always, other objects with
// `object_occlusion`. An object is hidden when they cover `occluded_share` of
// its box in the picture.
std::vector<bool> FrameEngine::occlusion(const std::vector<ObjectView>& views,
                                         const std::vector<bool>& present, const ViewPose& pose)
{
    const DetectorSpec& d = scenario_.detector;
    std::vector<ObjectView> blockers;
    if (!scenario_.occluders.empty()) {
        projector_.setPose(pose);
        for (const OccluderSpec& oc : scenario_.occluders) {
            ObjectSpec shape;
            shape.width = oc.width;
            shape.height = oc.height;
            blockers.push_back(
                projector_.view(scenario_.camera.height, GroundPosition{oc.x, oc.y, false}, shape));
        }
    }
    if (d.objectOcclusion)
        for (std::size_t i = 0; i < views.size(); i++)
            if (present[i])
                blockers.push_back(views[i]);
    std::vector<bool> hidden(views.size(), false);
    for (std::size_t i = 0; i < views.size(); i++) {
        if (!present[i] || !views[i].inPicture)
            continue;
        std::vector<Box> covers;
        for (const ObjectView& b : blockers)
            if (b.projected && b.distance < views[i].distance)
                covers.push_back(b.whole);
        hidden[i] = coveredShare(views[i].box, covers) >= d.occludedShare;
    }
    return hidden;
}

Frame FrameEngine::render(double t, const ViewPose& pose)
{
    const DetectorSpec& d = scenario_.detector;
    Frame frame;
    frame.rotation = scenario_.camera.rotation;
    frame.views = look(t, pose, &frame.present);
    frame.occluded = occlusion(frame.views, frame.present, pose);

    for (std::size_t i = 0; i < tracks_.size(); i++) {
        const ObjectSpec& o = scenario_.objects[i];
        const ObjectView& view = frame.views[i];
        Track& tr = tracks_[i];
        tr.detected = false;

        // Identity switches scripted for this object.
        while (tr.nextSwitch < o.idSwitches.size() && o.idSwitches[tr.nextSwitch].at <= t) {
            if (tr.vodId >= 0) {
                int fresh = newId();
                frame.vodEvents.push_back({kVodConnect, tr.vodId, {fresh}});
                if (tr.mergedInto < 0)
                    frame.sceneEvents.push_back({kSceneDelete, tr.sceneId, {}});
                tr.vodId = fresh;
                tr.sceneId = fresh;
                tr.mergedInto = -1;
                tr.firstSeen = t;
                tr.framesSeen = 0;
                tr.lastSceneT = -1.0;
            }
            tr.nextSwitch++;
        }

        bool visible = frame.present[i] && view.inPicture && view.box.height() >= d.minSize &&
                       !frame.occluded[i];
        bool missed = visible && d.missRate > 0.0 &&
                      std::uniform_real_distribution<double>(0, 1)(rng_) < d.missRate;
        if (visible && !missed) {
            if (tr.vodId < 0) {
                tr.vodId = tr.sceneId = newId();
                tr.firstSeen = t;
                tr.framesSeen = 0;
            }
            tr.lastSeen = t;
            Detection det = detect(i, view, t);
            tr.framesSeen++;
            tr.detected = true;
            tr.box = det.box;
            frame.detections.push_back(std::move(det));
        } else if (tr.vodId >= 0 && t - tr.lastSeen >= d.trackTimeout) {
            endTrack(i, frame);
        }
    }
    mergeAndSplit(frame);
    sceneObjects(frame, t);
    return frame;
}

} // namespace camsim::feeds
