#include "quillon/tracking/tracker/tracker.h"

#include <glib.h>

#include <atomic>

#include "quillon/config/geometry/picture_format.h"
#include "quillon/config/settings/runtime_commands.h"
#include "quillon/config/settings/settings_files.h"
#include "quillon/config/settings/settings_types.h"
#include "quillon/config/zones/zone_profile_container.h"
#include "quillon/core/channel.h"
#include "quillon/core/log.h"
#include "quillon/core/message.h"
#include "quillon/motion/presets/ptz_presets.h"
#include "quillon/tracking/filters/tracking_profile.h"
#include "quillon/tracking/status/tracker_status.h"
#include "quillon/tracking/strategies/generic_tracker.h"
#include "quillon/tracking/strategies/strategy_factory.h"
#include "quillon/tracking/tracker/tracker_positions.h"
#include "quillon/tracking/tracker/tracker_tick.h"

namespace quillon
{

namespace
{

std::uint64_t nextIdentity()
{
    static std::atomic<std::uint64_t> counter{0};
    return ++counter;
}

template <typename T> const T* settingsOf(const std::shared_ptr<Message>& message)
{
    auto typed = std::dynamic_pointer_cast<TrackerSettingsMessage<T>>(message);
    return typed ? &typed->settings : nullptr;
}

} // namespace

void Extremes::fold(double pan, double tilt, double zoom)
{
    const double values[3] = {pan, tilt, zoom};
    for (int i = 0; i < 3; ++i) {
        if (values[i] < minimum[i])
            minimum[i] = values[i];
        if (values[i] > maximum[i])
            maximum[i] = values[i];
    }
}

Tracker::Tracker(bool debug)
    : debug_(debug), ptz_(1), defaultProfile_(std::make_shared<TrackingProfile>(1, debug)),
      autoTriggersEvent_(debug), identity_(nextIdentity())
{
    ptz_.create();
    positions_ = std::make_shared<TrackerPositions>(ptz_);
    const ViewRecord view = trackerStatus().view;
    geometry_.setDimension(view.width, view.height);
    positions_->geometry().setDimension(view.width, view.height);
    // A viewport set through the API before tracking started.
    const PictureFormat format = pictureFormat();
    if (format.rotation >= 0) {
        viewRotation_ = format.rotation;
        geometry_.setRotation(format.rotation);
        positions_->geometry().setRotation(format.rotation);
    }
    publishAll();

    autotrackingEnabled_ = true;
    controlSocketStarted_ = true;
    autoTriggersEvent_.start();
    autoTriggersEvent_.setEnabled(true, channel_, g_get_monotonic_time());
    trackingStateEvent_.start();
    armWatch();
}

Tracker::~Tracker()
{
    int total = 0;
    for (const auto& [type, count] : typeStats_) {
        quillonLog(LOG_INFO, "  Tracked object of type %d : %d times\n", type, count);
        total += count;
    }
    quillonLog(LOG_INFO, "Started tracking objects %d times\n", total);
    prepareToShutdown();
}

void Tracker::handleMessage(const std::shared_ptr<Message>& message)
{
    std::lock_guard<std::recursive_mutex> hold(stepLock_);
    if (shutDown_)
        return;
    if (auto tick = std::dynamic_pointer_cast<TrackerTickMessage>(message)) {
        if (tick->tracker == identity_ && !shutDown_)
            onWatch(g_get_monotonic_time());
        return;
    }
    if (auto target = std::dynamic_pointer_cast<SetTrackingObjMessage>(message)) {
        const int id = target->targetId;
        if (strategy_ && strategy_->hasObject(id)) {
            startTracking(id, returnToPreset_);
        } else if (id != -1) {
            quillonLog(LOG_WARNING, "Object with ID: %d not found. Unable to set.\n", id);
        } else {
            stopTracking(true, true);
            presetFlags_ = 0;
        }
        return;
    }
    if (handleEventSettings(message) || handleMotionSettings(message))
        return;
    if (auto zone = settingsOf<temp_trigger_settings_t>(message)) {
        if (zone->gotoPreset >= 0)
            if (auto handler = PTZ::presetHandler(channel_))
                handler->gotoPreset(zone->gotoPreset);
        defaultProfile_->startTemporaryZone(zone->timeout, zone->gotoHomeAfter,
                                            zone->preTriggerTime);
        return;
    }
    if (auto params = settingsOf<TrackingParams>(message)) {
        law_.setZoomLimits(params->zoomLimitHigh, params->zoomLimitLow);
        timeoutToHome_ = params->timeoutToHome;
        returnToPreset_ = params->returnToPreset;
        applyTrackingParams(params->trackerType);
    }
}

bool Tracker::handleEventSettings(const std::shared_ptr<Message>& message)
{
    if (auto events = settingsOf<tracking_event_state_t>(message)) {
        if (events->enabled != trackingStateEvent_.started()) {
            if (events->enabled)
                trackingStateEvent_.start();
            else
                trackingStateEvent_.stop();
        }
        return true;
    }
    if (auto triggers = settingsOf<auto_tracking_state_t>(message)) {
        autoTriggersEvent_.setEnabled(triggers->enabled, channel_, g_get_monotonic_time());
        setAutotracking(triggers->enabled);
        return true;
    }
    return false;
}

bool Tracker::handleMotionSettings(const std::shared_ptr<Message>& message)
{
    const pid_params_t* gains = settingsOf<pan_pid_t>(message);
    const bool pan = gains != nullptr;
    if (!gains)
        gains = settingsOf<tilt_pid_t>(message);
    if (gains) {
        // Tuned gains belong to the default speed space only.
        if (driverCheck_.spaceSet())
            return true;
        stopMove();
        const auto kp = static_cast<float>(gains->kp);
        const auto ki = static_cast<float>(gains->ki);
        const auto kd = static_cast<float>(gains->kd);
        if (pan)
            law_.setPanGains(kp, ki, kd);
        else
            law_.setTiltGains(kp, ki, kd);
        setTrackedIdStatus(-1);
        resetLaw();
        return true;
    }
    if (auto viewport = settingsOf<viewport_configuration_t>(message)) {
        viewRotation_ = viewport->rotation;
        for (CameraGeometry* geometry : {&geometry_, &positions_->geometry()}) {
            geometry->setRotation(viewport->rotation);
            geometry->setDimension(viewport->width, viewport->height);
        }
        updateTrackerStatus([&](TrackerStatus& status) {
            status.view.channel = channel_;
            if (viewport->width >= 1 && viewport->height >= 1) {
                status.view.width = viewport->width;
                status.view.height = viewport->height;
            }
        });
        return true;
    }
    return false;
}

void Tracker::applyTrackingParams(int trackerType)
{
    if (strategyApplied_) {
        quillonLog(LOG_INFO, "TrackerType changed to %d. Will be applied at next start\n",
                   trackerType);
        return;
    }
    strategyApplied_ = true;
    auto strategy = makeStrategy(
        trackerType, channel_,
        [](TrackerScene& scene, Tracker* tracker) {
            if (tracker)
                tracker->onScene(scene);
        },
        this, debug_);
    if (!strategy) {
        quillonLog(LOG_ERR, "TrackerType %d is not available; nothing will be tracked\n",
                   trackerType);
        return;
    }
    useStrategy(std::move(strategy), strategySource(trackerType));
}

void Tracker::useStrategy(std::shared_ptr<GenericTracker> strategy, int source)
{
    strategyApplied_ = true;
    if (source != kSourceAny)
        defaultProfile_->setRequiredSource(source);
    if (strategy_) {
        strategy_->prepareToShutdown();
        Channel::instance().unsubscribe(strategy_);
    }
    strategy_ = std::move(strategy);
    strategy_->setPositionSource(positions_);
    Channel::instance().subscribe(strategy_);
}

void Tracker::setAutotracking(bool enabled)
{
    if (enabled == autotrackingEnabled_)
        return;
    if (!enabled) {
        stopTracking(false, true);
        presetFlags_ = 0;
    }
    autotrackingEnabled_ = enabled;
    if (enabled)
        startControlSocket();
    else
        stopControlSocket();
}

// The control socket of the channel stays with the PTZ link while automatic
// triggering is off: the position reads keep the status flowing (overlays
// show "tracker disabled") and a target set by id is still followed. Only
// shutdown lets the link go.
void Tracker::startControlSocket()
{
    if (controlSocketStarted_ || shutDown_)
        return;
    controlSocketStarted_ = true;
    if (ptz_.handle() == 0)
        ptz_.create();
}

void Tracker::stopControlSocket()
{
    controlSocketStarted_ = false;
}

void Tracker::prepareToShutdown()
{
    std::lock_guard<std::recursive_mutex> hold(stepLock_);
    if (shutDown_)
        return;
    // A running expiry may re-arm once after the first cancel.
    watching_.store(false);
    watch_.cancel();
    watch_.cancel();
    if (!driverCheck_.done())
        driverCheck_.reset();
    if (autotrackingEnabled_) {
        stopTracking(false, true);
        presetFlags_ = 0;
        autotrackingEnabled_ = false;
        stopControlSocket();
    }
    shutDown_ = true;
    if (ptz_.handle() != 0)
        ptz_.shutDown();
    if (strategy_) {
        strategy_->prepareToShutdown();
        Channel::instance().unsubscribe(strategy_);
    }
    // Zone events report disabled and are withdrawn while the bus still runs.
    defaultProfile_->zones()->clear();
    if (autoTriggersEvent_.started()) {
        autoTriggersEvent_.setEnabled(false, channel_, g_get_monotonic_time());
        autoTriggersEvent_.stop();
    }
    reportTracking(false);
    trackingStateEvent_.stop();
    setTrackedIdStatus(-1);
}

void Tracker::reportTracking(bool tracking)
{
    const std::int64_t time =
        timing_.sceneTimeUs != 0 ? timing_.sceneTimeUs : g_get_monotonic_time();
    trackingStateEvent_.setState(tracking, channel_, time);
}

PictureFormat Tracker::viewFormat() const
{
    const ViewRecord view = trackerStatus().view;
    return PictureFormat{viewRotation_, view.width, view.height};
}

void Tracker::armWatch()
{
    // The timer thread only posts the tick and re-arms; cancel() waits for a
    // running callback, so `this` outlives it.
    const std::uint64_t identity = identity_;
    watch_.start(
        std::chrono::milliseconds(kWatchMs),
        [this, identity](void*) {
            Channel::instance().post(std::make_unique<TrackerTickMessage>(identity));
            if (watching_.load())
                armWatch();
        },
        nullptr);
}

} // namespace quillon
