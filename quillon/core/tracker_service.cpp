#include "quillon/core/tracker_service.h"

#include <chrono>
#include <thread>

#include "quillon/config/settings/settings_files.h"
#include "quillon/config/settings/settings_types.h"
#include "quillon/config/zones/zone_profiles_file.h"
#include "quillon/core/channel.h"
#include "quillon/core/log.h"
#include "quillon/core/message.h"
#include "quillon/events/confirmation/visual_confirmation_handler.h"
#include "quillon/events/listener/event_listener.h"
#include "quillon/motion/presets/ptz_presets.h"
#include "quillon/tracking/tracker/tracker.h"

namespace quillon
{

TrackerService::TrackerService(std::function<void(CGIHandler*)> idle, CGIHandler* handler)
    : onIdle(std::move(idle)), cgiHandler(handler)
{
    eventListener = std::make_shared<EventListener>();
    Channel::instance().subscribe(eventListener);
    PTZ::start(); // logs when it already runs
    armIdleTimer();

    GMainContext* context = g_main_context_new();
    worker.start([this] { loadSettings(); }, nullptr, context);
    g_main_context_unref(context);
}

TrackerService::~TrackerService()
{
    idleTimer.cancel();
    if (eventListener) {
        Channel::instance().unsubscribe(eventListener);
        eventListener.reset();
    }
    if (worker.isRunning())
        worker.stop();
    else
        quillonLog(LOG_ERR, "Tracker thread not joinable\n");
    tracker.reset();
    confirmation.reset();
    PTZ::stop();
}

void TrackerService::loadSettings()
{
    Channel::instance().post(std::make_unique<NewVideoSourcesMessage>(1));
    // Loading publishes every record on the bus.
    auto& trackerFile = trackerSettingsFile();
    zoneProfilesFile();
    int maximum = 0;
    {
        std::lock_guard<std::mutex> hold(settingsMutex());
        maximum = trackerFile.settings().trackingParams()->value().maxProfileNumber;
    }
    setZoneProfileMaximum(maximum);
    productSettingsFile();
}

void TrackerService::handleMessage(const std::shared_ptr<Message>& message)
{
    if (auto app =
            std::dynamic_pointer_cast<TrackerSettingsMessage<application_settings_t>>(message)) {
        std::lock_guard<std::mutex> guard(trackingLock);
        if (shuttingDown)
            return;
        bool active = app->settings.active;
        if (active != enabled) {
            if (active)
                startTracking();
            else
                stopTracking();
            enabled = active;
        }
        if (enabled)
            idleTimer.cancel();
        else
            armIdleTimer();
    } else if (auto flag =
                   std::dynamic_pointer_cast<TrackerSettingsMessage<debug_mode_t>>(message)) {
        debug = flag->settings.debug;
    }
}

void TrackerService::prepareToShutdown()
{
    std::lock_guard<std::mutex> guard(trackingLock);
    shuttingDown = true;
    idleTimer.cancel();
    if (tracker)
        stopTracking();
    enabled = false;
    if (eventListener)
        eventListener->prepareToShutdown();
}

bool TrackerService::hasTracker() const
{
    std::lock_guard<std::mutex> guard(trackingLock);
    return tracker != nullptr && confirmation != nullptr;
}

void TrackerService::startTracking()
{
    tracker = std::make_shared<Tracker>(debug);
    Channel::instance().subscribe(tracker);
    confirmation = std::make_shared<VisualConfirmationHandler>(debug);
    Channel::instance().subscribe(confirmation);
}

void TrackerService::stopTracking()
{
    if (tracker) {
        tracker->prepareToShutdown();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Channel::instance().unsubscribe(tracker);
        tracker.reset();
    }
    if (confirmation) {
        Channel::instance().unsubscribe(confirmation);
        confirmation.reset();
    }
}

void TrackerService::armIdleTimer()
{
    idleTimer.start(
        kIdleSeconds, [this](void*) { idleCheck(); }, nullptr);
}

void TrackerService::idleCheck()
{
    if (!enabled && onIdle)
        onIdle(cgiHandler);
}

} // namespace quillon
