#include "quillon/tracking/objects/tracker_scene.h"

#include <time.h>

#include <algorithm>
#include <cmath>

#include "quillon/core/log.h"

namespace quillon
{

namespace
{

bool ofSource(const TrackingObject& object, int source)
{
    return source == kSourceAny || object.source == source;
}

// Smallest distance between an edge pair of one box and one of the other.
float edgeGap(float a1, float a2, float b1, float b2)
{
    return std::min(
        {std::fabs(a1 - b1), std::fabs(a1 - b2), std::fabs(a2 - b1), std::fabs(a2 - b2)});
}

} // namespace

std::int64_t monotonicNowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

TrackerScene::TrackerScene(std::int64_t sceneTime)
    : sceneTimeUs(sceneTime), updatedAtUs(monotonicNowUs())
{
}

TrackerScene TrackerScene::deepCopy() const
{
    TrackerScene copy = *this;
    for (auto& object : copy.objects)
        object = object->clone();
    return copy;
}

void TrackerScene::addObject(std::shared_ptr<TrackingObject> object, bool visible)
{
    if (visible)
        visibleIds.insert(object->getId());
    objects.push_back(std::move(object));
}

std::shared_ptr<TrackingObject> TrackerScene::findObject(int id) const
{
    for (const auto& object : objects)
        if (object->getId() == id)
            return object;
    return nullptr;
}

int TrackerScene::updateObject(const TrackingObject& incoming)
{
    const int id = incoming.getId();
    std::shared_ptr<TrackingObject> stored = findObject(id);
    if (!stored)
        return -1;
    stored->velocityX = incoming.velocityX;
    stored->velocityY = incoming.velocityY;
    if (stored.get() != &incoming)
        stored->shape = incoming.shape;
    const std::int64_t newest = incoming.newestUs;
    const bool moving = incoming.moving;
    stored->setConfidence(incoming.confidence);
    stored->setTime(incoming.lastSeenUs);
    stored->newestUs = newest;
    stored->setMoving(moving);
    visibleIds.insert(id);
    return 0;
}

int TrackerScene::removeObject(int id)
{
    auto it = std::find_if(objects.begin(), objects.end(),
                           [id](const auto& object) { return object->getId() == id; });
    if (it == objects.end())
        return -1;
    int index = static_cast<int>(it - objects.begin());
    objects.erase(it);
    visibleIds.erase(id);
    excludedIds.erase(id);
    return index;
}

bool TrackerScene::isVisible(int id) const
{
    return visibleIds.count(id) != 0;
}

void TrackerScene::markSourceUnseen(int source)
{
    visibleIds.clear();
    for (const auto& object : objects) {
        if (!ofSource(*object, source))
            continue;
        object->setConfidence(-1);
        updateObject(*object);
    }
}

void TrackerScene::markReported(int source)
{
    for (const auto& object : objects) {
        if (!ofSource(*object, source))
            continue;
        object->flags = kFlagReported;
        if (object->getId() == trackedId)
            object->flags |= kFlagTracked;
        updateObject(*object);
    }
}

void TrackerScene::exclude(int id)
{
    if (!findObject(id)) {
        quillonLog(LOG_ERR, "Trying to exclude %d but not in TrackerScene\n", id);
        return;
    }
    excludedIds.insert(id);
}

void TrackerScene::applyExclusions()
{
    for (int id : excludedIds) {
        std::shared_ptr<TrackingObject> object = findObject(id);
        if (!object || object->confidence <= object->confidenceThreshold - 1)
            continue;
        object->setConfidence(object->confidenceThreshold - 1);
        updateObject(*object);
    }
}

bool TrackerScene::setTracked(int id)
{
    if (id == -1) {
        trackedId = -1;
        return true;
    }
    bool exists = findObject(id) != nullptr;
    trackedId = exists ? id : -1;
    return exists;
}

void TrackerScene::setSceneTime(std::int64_t time)
{
    sceneTimeUs = time;
    updatedAtUs = monotonicNowUs();
}

std::pair<int, float> TrackerScene::findBestOverlap(const Box& box, int minConfidence) const
{
    std::pair<int, float> best{-1, 0.0f};
    for (const auto& object : objects) {
        if (object->confidence < minConfidence)
            continue;
        Box other = object->getBox();
        float w = std::min(box.x + box.width, other.x + other.width) - std::max(box.x, other.x);
        float h = std::min(box.y + box.height, other.y + other.height) - std::max(box.y, other.y);
        float score = 0.0f;
        if (w > 0.0f && h > 0.0f) {
            float intersection = w * h;
            score = intersection / (box.area() + other.area() - intersection);
        }
        if (score > best.second)
            best = {object->getId(), score};
    }
    return best;
}

std::pair<int, float> TrackerScene::findNearest(Point point, int minConfidence) const
{
    std::pair<int, float> best{-1, kNoDistance};
    for (const auto& object : objects) {
        if (object->confidence < minConfidence)
            continue;
        float d = distance(point, object->getBox().centre());
        if (d < best.second)
            best = {object->getId(), d};
    }
    return best;
}

int TrackerScene::findAdjacentLargest(const TrackingObject& object) const
{
    const Box ref = object.getBox();
    const float reach = std::max(0.2f, std::sqrt(ref.width * ref.width + ref.height * ref.height));
    int bestId = -1;
    float bestArea = -1.0f;
    for (const auto& candidate : objects) {
        if (!candidate->isConfident())
            continue;
        Box b = candidate->getBox();
        float dx = edgeGap(ref.x, ref.x + ref.width, b.x, b.x + b.width);
        float dy = edgeGap(ref.y, ref.y + ref.height, b.y, b.y + b.height);
        if (reach < std::sqrt(dx * dx + dy * dy))
            continue;
        if (b.area() > bestArea) {
            bestArea = b.area();
            bestId = candidate->getId();
        }
    }
    return bestId;
}

void TrackerScene::printStorage() const
{
    if (objects.empty())
        return;
    quillonLog(LOG_INFO, "Object Storage: %zu objects\n", objects.size());
    for (const auto& object : objects) {
        const int id = object->getId();
        const long long age = static_cast<long long>(sceneTimeUs - object->lastSeenUs);
        if (!isVisible(id))
            quillonLog(LOG_INFO, "  Hidden %d conf:%d (%lldus)\n", id, object->confidence, age);
        else if (object->confidence == 0)
            quillonLog(LOG_INFO, "  Low confidence %d (%lldus)\n", id, age);
        else if (object->confidence < 0)
            quillonLog(LOG_INFO, "  Weird object %d confidence:%d (%lldus)\n", id,
                       object->confidence, age);
        else
            quillonLog(LOG_INFO, "  Visible %d (%lldus)\n", id, age);
    }
}

} // namespace quillon
