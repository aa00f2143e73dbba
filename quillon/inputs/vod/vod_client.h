#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "quillon/core/timer_class.h"
#include "quillon/inputs/vod/vod_object_type.h"
#include "quillon/inputs/vod/vod_parser.h"

namespace quillon
{

class Channel;
class VodSceneUpdateMessage;

// The client of the detection feed for one channel: owns the feed
// subscription while started, filters each frame through the object-class
// map and posts it as a VodSceneUpdateMessage on the bus. When the feed goes
// away (or cannot be reached) it subscribes again every 3 s while started.
//
// Threads:
// - start, stop, setObjectClasses and the destructor: the owner's threads.
// - frames (processScene) and the feed's teardown: the library thread.
//   processScene reads the class map under `classLock`; the teardown only
//   arms `restartTimer`.
// - the restart: the timer thread.
// `lifecycleLock` serialises subscribing and unsubscribing (start, stop,
// restart). stop() clears `started` and cancels the timer (which waits for a
// running restart) before it takes `lifecycleLock`, so a restart never
// outlives stop() or the client; a restart that finds `started` clear does
// nothing.
class VodClient
{
public:
    static constexpr int kRestartSeconds = 3;

    // `channel` is 1-based. Messages go to `bus`.
    explicit VodClient(int channel);
    VodClient(int channel, Channel& bus);
    ~VodClient();
    VodClient(const VodClient&) = delete;
    VodClient& operator=(const VodClient&) = delete;

    // Subscribes; started even when that fails (the restart then retries).
    // Returns the parser's init result (1: another client owns the feed).
    int start();
    void stop();
    bool started() const { return started_.load(); }

    // Classes that detections must belong to. With `detectorThresholds`, a
    // threshold of -1 takes the detector's calibrated threshold of the class
    // at each subscription.
    void setObjectClasses(const VodClassMap& classes, bool detectorThresholds = false);
    VodClassMap objectClasses() const;
    // The detector's classes from the current subscription (all enabled,
    // not human, with their calibrated thresholds).
    VodClassMap detectorClassMap() const;
    // Number of subscriptions made so far.
    std::uint64_t subscription() const { return subscription_.load(); }

    // Library thread: builds the message of one frame (null when no client)
    // and posts it.
    void processScene(const VodSceneRecord& scene);
    // The message one frame gives, without posting it.
    std::unique_ptr<VodSceneUpdateMessage> buildMessage(const VodSceneRecord& scene);
    // Library thread: the feed was torn down.
    void restart();

private:
    static void sceneTrampoline(const VodSceneRecord& scene, void* client, VodParser& parser);
    static int teardownTrampoline(void* client);

    int subscribeLocked();
    void armRestart();
    void onRestartTimer();
    void refreshThresholdsLocked(const std::vector<ObjectClassInfo>& detector);

    std::atomic<bool> started_{false};
    TimerClass restartTimer;
    std::mutex lifecycleLock;
    mutable std::mutex classLock;
    VodClassMap configured; // as set by the owner
    VodClassMap classes;    // in force (thresholds filled in)
    bool detectorThresholds = false;
    int channel;
    Channel& bus;
    std::atomic<std::uint64_t> subscription_{0};
    // Library thread only: rate limit of the non-finite box warning.
    std::int64_t nonFiniteLoggedUs = 0;
    unsigned nonFiniteSkipped = 0;
};

} // namespace quillon
