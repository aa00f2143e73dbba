#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "quillon/core/main_loop_thread.h"
#include "quillon/core/message_receiver.h"
#include "quillon/core/timer_class.h"

namespace quillon
{

class CGIHandler;
class EventListener;
class Tracker;
class VisualConfirmationHandler;

// Owns the tracking machinery and switches it on and off with the
// application's "active" setting; ends the process through onIdle when the
// application stays inactive.
//
// Threads: constructed and destroyed on the main thread; handleMessage runs
// on the bus thread (tracking is switched there); the idle check runs on the
// timer thread and reads only `enabled` and `onIdle`; the worker loads the
// settings files and then runs a GLib main loop.
//
// Waits: the bus thread holds `trackingLock` while it re-arms or cancels the
// idle timer, which waits for a running idle check. The idle check therefore
// must never wait for an API request: onIdle hands its decision to the
// request loop (CGIHandler::stopWhen) and returns. Lock order in
// docs/quillon.md.
class TrackerService : public MessageReceiver
{
public:
    static constexpr int kIdleSeconds = 10;

    // Creates and subscribes the EventListener, starts the PTZ presets
    // component, arms the idle timer and starts the worker.
    TrackerService(std::function<void(CGIHandler*)> onIdle, CGIHandler* cgiHandler);
    ~TrackerService() override;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    // Turns tracking off and drops the event subscriptions.
    void prepareToShutdown() override;

    bool trackingEnabled() const { return enabled; }
    // Whether the Tracker and VisualConfirmationHandler exist (tracking on).
    bool hasTracker() const;
    bool idleTimerArmed() const { return idleTimer.isArmed(); }

private:
    void startTracking();
    void stopTracking();
    void armIdleTimer();
    void idleCheck();
    void loadSettings();

    mutable std::mutex trackingLock; // tracking switches: bus thread vs. shutdown path
    bool shuttingDown = false;
    std::function<void(CGIHandler*)> onIdle;
    CGIHandler* cgiHandler;
    std::atomic<bool> enabled{false};
    bool debug = false;
    MainLoopThread worker; // runs the service's GLib main loop
    TimerClass idleTimer;
    std::shared_ptr<EventListener> eventListener;
    std::shared_ptr<Tracker> tracker;
    std::shared_ptr<VisualConfirmationHandler> confirmation;
};

} // namespace quillon
