// The Tracker's per-scene loop: position, driver handshake, snapshot, target
// selection, following and giving up.
#include <glib.h>

#include <cmath>

#include "quillon/config/geometry/camera_position.h"
#include "quillon/config/geometry/picture_format.h"
#include "quillon/config/zones/zone_profile_container.h"
#include "quillon/core/channel.h"
#include "quillon/core/log.h"
#include "quillon/motion/presets/ptz_presets.h"
#include "quillon/tracking/filters/tracking_profile.h"
#include "quillon/tracking/status/tracker_status.h"
#include "quillon/tracking/strategies/generic_tracker.h"
#include "quillon/tracking/tracker/analyzed_video_message.h"
#include "quillon/tracking/tracker/tracker.h"
#include "quillon/tracking/tracker/tracker_positions.h"

namespace quillon
{

namespace
{

// Driver status bits that tell that the camera moves.
constexpr std::uint32_t kMovingBits = 0x13;
constexpr int kMovingHold = 2;
constexpr double kZoomOutOnLoss = -5.0;

double seconds(std::int64_t us)
{
    return static_cast<double>(us) / 1e6;
}

} // namespace

void Tracker::onScene(TrackerScene& scene)
{
    std::lock_guard<std::recursive_mutex> hold(stepLock_);
    if (shutDown_)
        return;
    lastSceneMonoUs_ = g_get_monotonic_time();
    if (feedSilent_) {
        quillonLog(LOG_INFO, "scenes resumed\n");
        feedSilent_ = false;
    }
    // 1. Interval since the previous scene.
    const std::int64_t sceneTime = scene.sceneTimeUs;
    timing_.interval = previousSceneUs_ != 0 ? seconds(sceneTime - previousSceneUs_) : 0.0;
    previousSceneUs_ = sceneTime;
    timing_.sceneTimeUs = sceneTime;

    // 2.-4. Position and the driver handshake.
    if (!readPositions(sceneTime))
        return;
    if (!finishDriverCheck())
        return;
    // 5. Status for overlays once the picture's orientation is known.
    if (viewRotation_ >= 0)
        publishSnapshot(scene);
    // 6. The camera goes to a preset: let it.
    if (presetMoving()) {
        if (state_ != kIdle) {
            stopTracking(false, false);
            presetFlags_ = 0;
        }
        return;
    }
    // 7. Follow the tracked object.
    if (scene.trackedId >= 0) {
        setTrackedIdStatus(scene.trackedId);
        if (auto object = scene.findObject(scene.trackedId)) {
            follow(*object);
            lastFollowedUs_ = sceneTime;
            lastFollowedMonoUs_ = lastSceneMonoUs_;
        }
        return;
    }
    // 8. No tracked object.
    afterTarget(scene);
}

bool Tracker::readPositions(std::int64_t sceneTimeUs)
{
    PositionRecord atFrame;
    const int result = positions_->read(sceneTimeUs, atFrame);
    if (result != 0) {
        quillonLog(LOG_INFO, "PTZ result = %d\n", result);
        // The next good read runs the handshake again.
        if (driverCheck_.done()) {
            driverCheck_.reset();
            initialised_ = false;
        }
        return false;
    }
    positionAtFrame_ = atFrame;
    setCameraPosition(atFrame);
    PositionRecord now = atFrame;
    const bool haveNow = positions_->read(0, now) == 0;
    if (haveNow) {
        positionNow_ = now;
        geometry_.update(now);
    }
    updateTrackerStatus([&](TrackerStatus& status) {
        status.atFrame = atFrame;
        status.atFrameValid = true;
        if (haveNow) {
            status.now = now;
            status.nowValid = true;
        }
    });
    const bool moving =
        (atFrame.status & kMovingBits) != 0 || (haveNow && (now.status & kMovingBits) != 0);
    if (moving) {
        movingHold_ = kMovingHold;
        ptzMoving_ = true;
    } else if (movingHold_ > 0) {
        // Two more scenes after the bits clear.
        --movingHold_;
        ptzMoving_ = true;
    } else {
        ptzMoving_ = false;
    }
    return true;
}

bool Tracker::finishDriverCheck()
{
    // A new socket starts in the driver's default space: check it again.
    if (driverCheck_.followLink(ptz_))
        initialised_ = false;
    if (initialised_)
        return true;
    if (!driverCheck_.done()) {
        driverCheck_.step(ptz_);
        return false;
    }
    law_.useGainSet(driverCheck_.spaceSet() ? GainSet::Alternate : GainSet::Default);
    initialised_ = true;
    return false;
}

bool Tracker::presetMoving() const
{
    // The list lookup does not log a missing channel on every scene.
    for (const auto& handler : PTZ::presetHandlers())
        if (handler->channel() == channel_)
            return handler->isState2();
    return false;
}

void Tracker::afterTarget(TrackerScene& scene)
{
    if (autotrackingEnabled_) {
        if (ptzMoving_ && state_ == kIdle)
            return;
        if (!(ptzMoving_ && state_ == kTracking) && analyzeSceneForAutotracking(scene))
            return;
    }
    if (state_ == kTracking) {
        loseTarget();
        return;
    }
    if (state_ == kLost && seconds(timing_.sceneTimeUs - lastFollowedUs_) > timeoutToHome_) {
        stopMove();
        state_ = kIdle;
        goHomeWhenArmed();
    }
}

void Tracker::loseTarget()
{
    stopTracking(false, false);
    move(0.0, 0.0, kZoomOutOnLoss);
    positionExtremes_.fold(positionNow_.pan, positionNow_.tilt, positionNow_.zoomFactor);
    state_ = kLost;
}

void Tracker::goHomeWhenArmed()
{
    if (presetFlags_ != 2 || presetState_ != 2)
        return;
    if (auto handler = PTZ::presetHandler(channel_))
        handler->gotoPreset(returnPreset_);
    presetFlags_ = 0;
    presetState_ = 0;
}

bool Tracker::analyzeSceneForAutotracking(TrackerScene& scene)
{
    const auto candidates =
        defaultProfile_->candidates(scene, positionAtFrame_, viewFormat(), geometry_);
    if (candidates.empty())
        return false;
    const int stopped = scene.lastStoppedId;
    for (const auto& candidate : candidates) {
        auto object = scene.findObject(candidate.objectId);
        if (!object) {
            quillonLog(LOG_INFO, "analyzeSceneForAutotracking: Cant find object %d\n",
                       candidate.objectId);
            continue;
        }
        // While a stop is recorded only the stopped object may be taken again.
        const bool qualifies =
            candidate.objectId == stopped || (stopped == -1 && object->shouldTrigger());
        if (!qualifies)
            continue;
        quillonLog(LOG_INFO, "start tracking %d (%d,%d) type:%d time:%.2f \n", candidate.objectId,
                   object->isHuman() ? 1 : 0, object->moving ? 1 : 0, object->objectType,
                   static_cast<double>(object->moveTime()));
        const bool started = startTracking(candidate.objectId, candidate.preset);
        typeStats_[object->objectType]++;
        if (started)
            return true;
    }
    return false;
}

bool Tracker::startTracking(int id, int preset)
{
    if (!strategy_ || !strategy_->setTrackingObject(id, preset == -1))
        return false;
    trackingStartedAt_ = g_get_monotonic_time();
    if (preset != -1) {
        returnPreset_ = preset;
        presetState_ = 2;
        presetFlags_ = 2;
    } else {
        presetFlags_ = 0;
    }
    resetLaw();
    state_ = kTracking;
    lastFollowedUs_ = timing_.sceneTimeUs;
    lastFollowedMonoUs_ = g_get_monotonic_time();
    setTrackedIdStatus(id);
    reportTracking(true);
    return true;
}

void Tracker::stopTracking(bool exclude, bool stop)
{
    quillonLog(LOG_INFO, "Stop tracking exclude:%d stop:%d id:%d\n", exclude ? 1 : 0, stop ? 1 : 0,
               trackedIdStatus());
    if (state_ == kTracking)
        positionExtremes_.fold(positionNow_.pan, positionNow_.tilt, positionNow_.zoomFactor);
    if (strategy_)
        strategy_->unsetTrackingObject(exclude);
    reportTracking(false);
    resetLaw();
    setTrackedIdStatus(-1);
    state_ = kIdle;
    if (stop) {
        stopMove();
        goHomeWhenArmed();
    } else {
        speedExtremes_.reset();
        positionExtremes_.reset();
    }
}

void Tracker::resetLaw()
{
    law_.reset();
    predictor_.reset();
    // Every new target gets its zoom hold again.
    timing_.zoomHoldUs = 0;
}

void Tracker::stopMove()
{
    if (ptz_.continuousMove(0.0, 0.0, 0.0) == 0)
        lastSpeeds_ = Speeds{};
    speedExtremes_.reset();
    positionExtremes_.reset();
}

int Tracker::move(double pan, double tilt, double zoom)
{
    // The link never gets a speed that is not a number.
    if (!std::isfinite(pan) || !std::isfinite(tilt) || !std::isfinite(zoom)) {
        quillonLog(LOG_WARNING, "non-finite speeds (%g, %g, %g) not sent\n", pan, tilt, zoom);
        pan = std::isfinite(pan) ? pan : 0.0;
        tilt = std::isfinite(tilt) ? tilt : 0.0;
        zoom = std::isfinite(zoom) ? zoom : 0.0;
    }
    lastMoveError_ = ptz_.continuousMove(pan, tilt, zoom);
    if (lastMoveError_ == 0) {
        lastSpeeds_ = Speeds{pan, tilt, zoom};
        speedExtremes_.fold(pan, tilt, zoom);
        positionExtremes_.fold(positionNow_.pan, positionNow_.tilt, positionNow_.zoomFactor);
    }
    return lastMoveError_;
}

void Tracker::follow(const TrackingObject& object)
{
    Speeds speeds;
    if (object.isConfident()) {
        // Equal scene times give no interval to steer over.
        if (!(timing_.interval > 0.0))
            return;
        const LawTarget target{object.shape, object.velocityX, object.velocityY};
        speeds = law_.computeSpeeds(target, positionAtFrame_, timing_, predictor_);
    }
    if (speeds == lastSpeeds_)
        return;
    if (move(speeds.pan, speeds.tilt, speeds.zoom) != 0) {
        lastSpeeds_ = Speeds{};
        stopTracking(false, true);
        presetFlags_ = 0;
    }
}

void Tracker::publishSnapshot(const TrackerScene& scene)
{
    auto message = std::make_unique<AnalyzedVideoMessage>();
    message->channel = channel_;
    message->sceneTimeUs = scene.sceneTimeUs;
    message->rotation = viewRotation_;
    for (const auto& object : scene.objects) {
        const bool tracked = object->getId() == scene.trackedId;
        if (!tracked && !(scene.isVisible(object->getId()) && object->isConfident()))
            continue;
        auto copy = object->clone();
        if (tracked)
            copy->flags |= kFlagTracked;
        message->objects.push_back(std::move(copy));
    }
    const PictureFormat format = viewFormat();
    const auto& container = *defaultProfile_->zones();
    for (const auto& [id, zone] : container.zones()) {
        if (auto polygon = container.pixelPolygon(zone, positionAtFrame_, format, geometry_))
            message->zones.push_back(VisualZone{zone.id, zone.zoneType, zone.enabled, *polygon});
    }
    message->latestResult = lastMoveError_;
    message->trackerEnabled = autotrackingEnabled_;
    message->moving = ptzMoving_;
    message->zoomMag = positionAtFrame_.zoomFactor;
    Channel::instance().post(std::move(message));
    lastMoveError_ = 0;
}

void Tracker::logStatus(std::int64_t nowUs)
{
    if (nowUs - lastStatusLogUs_ < 1000000)
        return;
    lastStatusLogUs_ = nowUs;
    static const char* const names[] = {"idle", "tracking", "lost"};
    quillonLog(LOG_INFO,
               "tracker: %s, target %d, speeds %.2f %.2f %.2f, camera pan %.1f tilt %.1f zoom "
               "%.2f%s%s\n",
               names[state_], trackedIdStatus(), lastSpeeds_.pan, lastSpeeds_.tilt,
               lastSpeeds_.zoom, static_cast<double>(positionNow_.pan),
               static_cast<double>(positionNow_.tilt), static_cast<double>(positionNow_.zoomFactor),
               ptzMoving_ ? ", moving" : "", feedSilent_ ? ", no scenes" : "");
}

void Tracker::onWatch(std::int64_t nowUs)
{
    if (debug_)
        logStatus(nowUs);
    if (lastSceneMonoUs_ == 0 || state_ == kIdle)
        return;
    const std::int64_t silent = nowUs - lastSceneMonoUs_;
    if (silent < kSilentFeedUs)
        return;
    if (!feedSilent_) {
        quillonLog(LOG_WARNING, "no scene for %.1f s: stopping the camera\n", seconds(silent));
        feedSilent_ = true;
        if (state_ == kTracking) {
            stopTracking(false, false);
            state_ = kLost;
        }
        stopMove();
        return;
    }
    // Scene time stands still: the wait before going home runs on the
    // monotonic clock.
    if (state_ == kLost && seconds(nowUs - lastFollowedMonoUs_) > timeoutToHome_) {
        stopMove();
        state_ = kIdle;
        goHomeWhenArmed();
    }
}

} // namespace quillon
