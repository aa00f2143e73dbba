#include "quillon/inputs/vod/vod_object.h"

#include "quillon/core/log.h"

namespace quillon
{

namespace
{

constexpr float kHumanTriggerSeconds = 0.25f;
constexpr float kOtherTriggerSeconds = 2.0f;
constexpr double kMinAnalysedAge = 2.0;
constexpr int kVehicleClass = 1;

bool known(Point p)
{
    return !std::isnan(p.x) && !std::isnan(p.y);
}

// Wrapped once into [-180, 180].
double wrapStep(double d)
{
    if (d > 180.0)
        d -= 360.0;
    else if (d < -180.0)
        d += 360.0;
    return d;
}

double ratio(double sum, int count)
{
    return count > 0 ? sum / count : 0.0;
}

Box boxOf(const Polygon& polygon)
{
    const BoundingBox& b = polygon.boundingBox();
    return {b.minX, b.minY, b.maxX - b.minX, b.maxY - b.minY};
}

} // namespace

VodObject::VodObject(int objectId, std::int64_t sceneTimeUs, const Polygon& box, int score,
                     int threshold, int classId, bool isHumanObject, int status, bool move)
    : detectionStatus(status), hasMove(move)
{
    source = kSourceDetection;
    id = objectId;
    firstSeenUs = sceneTimeUs;
    lastSeenUs = sceneTimeUs;
    detectedUs = sceneTimeUs;
    human = isHumanObject;
    shape = box;
    confidence = score;
    confidenceThreshold = threshold;
    objectType = classId;
    history_.reserve(kMaxHistory);
    VodHistorySample first;
    first.box = boxOf(box);
    first.status = status;
    first.score = score;
    first.timeUs = sceneTimeUs;
    history_.push_back(first);
    latestSample = first;
}

VodObject::~VodObject() = default;

bool VodObject::isConfident() const
{
    return confidence >= confidenceThreshold;
}

Box VodObject::getBox() const
{
    if (displayBox.width * displayBox.height > 0.0f)
        return displayBox;
    return TrackingObject::getBox();
}

bool VodObject::shouldTrigger() const
{
    if (!isConfident() || !moving)
        return false;
    const float t = moveTime();
    if (t < (isHuman() ? kHumanTriggerSeconds : kOtherTriggerSeconds))
        return false;
    quillonLog(LOG_INFO,
               "VodObject::shouldTrigger() should trigger trig:%d id:%d:(m:%d h:%d moveTime:%.1f "
               "hasMove:%d:len:%zu\n",
               1, id, moving, human, static_cast<double>(t), hasMove, history_.size());
    return true;
}

bool VodObject::isHuman() const
{
    return human;
}

std::shared_ptr<TrackingObject> VodObject::clone() const
{
    return std::make_shared<VodObject>(*this);
}

bool VodObject::appendHistory(Point camera, Point fieldOfView, Point object, const Box& box,
                              int status, int score, std::int64_t timeUs, bool tracked)
{
    // Drop first so the vector never grows beyond its reserved size (a
    // copy has only as much room as it holds).
    if (history_.capacity() < kMaxHistory)
        history_.reserve(kMaxHistory);
    if (history_.size() >= kMaxHistory)
        history_.erase(history_.begin());
    VodHistorySample sample;
    sample.camera = camera;
    sample.fieldOfView = fieldOfView;
    sample.object = object;
    sample.box = box;
    sample.timeUs = timeUs;
    sample.status = status;
    sample.score = score;
    history_.push_back(sample);
    latestSample = sample;
    latestPanTilt = object;
    bool result = analyseMotion(tracked);
    setMoving(result);
    return result;
}

bool VodObject::analyseMotion(bool tracked)
{
    if (history_.size() <= kMinAnalysedSamples) {
        velocityX = 0.0f;
        velocityY = 0.0f;
        motionAnalysed = false;
        return false;
    }
    double sumPan = 0, sumTilt = 0, sumPanStep = 0, sumTiltStep = 0, path = 0;
    double sumCamPanStep = 0, sumCamTiltStep = 0;
    int objectCount = 0, objectSteps = 0, cameraSteps = 0, below = 0;
    const VodHistorySample* newerObject = nullptr;
    const VodHistorySample* newerCamera = nullptr;
    Point fov{0.0f, 0.0f};
    for (auto it = history_.rbegin(); it != history_.rend(); ++it) {
        const VodHistorySample& s = *it;
        if (known(s.object)) {
            sumPan += s.object.x;
            sumTilt += s.object.y;
            objectCount++;
            if (newerObject != nullptr) {
                double dPan = wrapStep(double(s.object.x) - newerObject->object.x);
                double dTilt = double(s.object.y) - newerObject->object.y;
                sumPanStep += dPan;
                sumTiltStep += dTilt;
                path += std::sqrt(dPan * dPan + dTilt * dTilt);
                objectSteps++;
            }
            newerObject = &s;
        }
        if (known(s.camera)) {
            if (newerCamera != nullptr) {
                sumCamPanStep += wrapStep(double(s.camera.x) - newerCamera->camera.x);
                sumCamTiltStep += double(s.camera.y) - newerCamera->camera.y;
                cameraSteps++;
            }
            newerCamera = &s;
            fov = s.fieldOfView;
        }
        if (s.score < confidenceThreshold)
            below++;
    }
    const double age = static_cast<double>(lastSeenUs - firstSeenUs) / 1e6;
    const double span = static_cast<double>(history_.back().timeUs - history_.front().timeUs) / 1e6;
    const double meanPath = ratio(path, objectSteps);
    const double meanCamPan = ratio(sumCamPanStep, cameraSteps);
    const double meanCamTilt = ratio(sumCamTiltStep, cameraSteps);
    const double meanPan = ratio(sumPan, objectCount);
    const double meanTilt = ratio(sumTilt, objectCount);
    const double panRate = span > 0 ? sumPanStep / span : 0.0;
    const double tiltRate = span > 0 ? sumTiltStep / span : 0.0;
    rates = {static_cast<float>(panRate), static_cast<float>(tiltRate)};
    const double meanPanStep = ratio(sumPanStep, objectSteps);
    const double meanTiltStep = ratio(sumTiltStep, objectSteps);

    if (below > 0 || age < kMinAnalysedAge) {
        motionAnalysed = false;
        return false;
    }
    motionAnalysed = true;
    const double base = objectType == kVehicleClass ? 1.0 : 0.2;
    double k = objectType == kVehicleClass ? 5.0 : 1.0;
    double panRateLimit = base;
    if (tracked) {
        k = base;
        panRateLimit = base * 0.2;
    }
    // A field of view that is not known (0) cannot scale the rates.
    auto perView = [](double rate, float view) { return view > 0.0f ? rate / view : 0.0; };
    const bool rateMoves = std::fabs(panRate) >= panRateLimit || std::fabs(tiltRate) >= 0.1 * k ||
                           std::fabs(perView(panRate, fov.x)) >= 0.025 * k ||
                           std::fabs(perView(tiltRate, fov.y)) >= 0.025 * k;
    const double objectStep = std::sqrt(meanPanStep * meanPanStep + meanTiltStep * meanTiltStep);
    const double cameraStep = std::sqrt(meanCamPan * meanCamPan + meanCamTilt * meanCamTilt);
    const bool shapeMoves =
        objectStep > cameraStep && meanPath > 0.0 && std::fabs(objectStep / meanPath) >= 0.6;
    const bool cameraStill = std::fabs(meanCamPan) < 0.001 && std::fabs(meanCamTilt) < 0.001;
    const bool result = rateMoves && shapeMoves && (cameraStill || tracked);
    if (!result)
        restPosition = {static_cast<float>(meanPan), static_cast<float>(meanTilt)};
    if (result && cameraStep > 0.0)
        displayBox = {};
    return result;
}

void VodObject::setLost(bool flag)
{
    if (flag == lost)
        return;
    if (flag) {
        detectionStatus = kVodUntracked;
        setConfidence(0);
        displayBox = {};
        velocityX = 0.0f;
        velocityY = 0.0f;
        motionAnalysed = false;
        history_.clear();
        shape = Polygon::defaultPolygon();
        latestPanTilt = {VodHistorySample::kUnknown, VodHistorySample::kUnknown};
    }
    lost = flag;
}

void VodObject::resetMotion()
{
    displayBox = {};
    motionAnalysed = false;
    history_.clear();
}

} // namespace quillon
