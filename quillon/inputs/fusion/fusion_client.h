#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "quillon/core/timer_class.h"
#include "quillon/inputs/fusion/fusion_classes.h"
#include "quillon/tracking/objects/tracker_scene.h"

struct mbx_connection;
struct mbx_subscriber;
struct mbx_message;
struct mbx_error;

namespace quillon
{

// Receives each scene of the analytics topic, on the broker's thread.
using FusionSceneCallback = std::function<void(TrackerScene& scene, void* owner)>;

// The client of the analytics scene-description topic for one channel: a
// broker connection and a subscriber while started; each message becomes a
// TrackerScene handed to the owner's callback. When the broker cannot be
// reached at start (or the subscription is refused) it tries again every
// 3 s while started; once connected the library reconnects by itself.
//
// Threads:
// - start, stop, setRotation and destruction: the owner's thread.
// - messages and broker errors: the broker library's thread; they read
//   `rotation_` (atomic) and the callback, which is set under
//   `lifecycleLock` before any subscription exists.
// - the retry: the timer thread.
// `lifecycleLock` serialises start, stop and the retry. stop() clears
// `started_` and cancels the timer (waiting for a running retry) before it
// destroys the subscriber and connection; destroying the connection joins
// the library thread, so once stop() returns no callback runs.
class FusionClient
{
public:
    static constexpr const char* kTopic = "com.zeto.analytics_scene_description.v0.beta";
    static constexpr int kRetrySeconds = 3;

    // `channel` is 1-based: the broker's source is its decimal text.
    explicit FusionClient(int channel);
    ~FusionClient();
    FusionClient(const FusionClient&) = delete;
    FusionClient& operator=(const FusionClient&) = delete;

    void start(FusionSceneCallback callback, void* owner);
    void stop();
    // A subscriber exists (the broker may still be reconnecting).
    bool subscribed() const;
    // Number of start attempts made (first one and retries).
    std::uint64_t attempts() const { return attempts_.load(); }

    // Rotation of the displayed picture (0, 180; -1 not known reads as 0).
    void setRotation(int rotation) { rotation_ = rotation; }
    int rotation() const { return rotation_.load(); }
    const FusionClassTable& classes() const { return classes_; }

    // One message (library thread); public for the callback trampoline.
    void onMessage(const mbx_message* message);

private:
    static void messageTrampoline(const mbx_message* message, void* client);
    static void errorTrampoline(const mbx_error* error, void* client);

    // Connects and subscribes; false (all freed, logged) on failure.
    bool connectLocked();
    void releaseLocked();
    void armRetry();
    void onRetry();

    int channel;
    const FusionClassTable classes_;
    std::atomic<int> rotation_{-1};
    std::atomic<bool> started_{false};
    std::atomic<std::uint64_t> attempts_{0};
    mutable std::mutex lifecycleLock;
    FusionSceneCallback callback;
    void* owner = nullptr;
    mbx_connection* connection = nullptr;
    mbx_subscriber* subscriber = nullptr;
    TimerClass retryTimer;
};

} // namespace quillon
