#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "quillon/core/message_receiver.h"
#include "quillon/core/timer_class.h"
#include "quillon/inputs/vod/vod_client.h"
#include "quillon/inputs/vod/vod_object_type.h"
#include "quillon/tracking/objects/tracker_scene.h"

namespace quillon
{

class Channel;
class VodPositionSource;

// What the detection-driven strategies share for one channel: the feed
// client, the stored scene that each frame is folded into, the class map
// (the settings file's classes, thresholds of -1 taken from the detector)
// and an optional camera-position source. Watches the feed: a feed silent
// for 2 s is reported once, its return too; in debug mode the store is
// printed each second.
//
// Standalone it is subscribed on the bus and folds every frame itself; a
// detection strategy instead calls fold() from its own handleMessage with
// its tracked id and edits the store through withScene().
//
// Threads: start/stop/setPositionSource on the owner's thread (the bus
// thread for a strategy); handleMessage, fold and withScene on the bus
// thread; the watch runs each second on the timer thread. `lock` guards the
// stored scene, the frame statistics and the position source; other threads
// read the scene through snapshot(). stop() cancels the watch (waiting for a
// running one) before it stops the client.
class VodSceneHolder : public MessageReceiver
{
public:
    static constexpr std::int64_t kSilenceUs = 2000000;

    VodSceneHolder(int channel, bool debug);
    VodSceneHolder(int channel, bool debug, Channel& bus, std::string classFile);
    ~VodSceneHolder() override;

    // Loads (or creates) the class settings file, starts the client and the
    // watch.
    void start();
    void stop();

    // Folds a VodSceneUpdateMessage into the stored scene; ignores others.
    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;

    // Folds one frame into the stored scene and returns the tracked id of
    // the result (-1 none). With `tracked`, that id is first marked tracked
    // in the store (or cleared when it is not stored), so the update follows
    // and analyses the object the caller tracks.
    int fold(const VodSceneUpdateMessage& update, std::optional<int> tracked = std::nullopt);
    // Runs `fn` on the stored scene under the lock and returns its result.
    // `fn` must not call back into the holder.
    template <typename Fn> auto withScene(Fn&& fn)
    {
        std::lock_guard<std::mutex> guard(lock);
        return fn(scene);
    }

    // A copy of the stored scene that shares nothing with it.
    TrackerScene snapshot() const;
    void setPositionSource(std::shared_ptr<VodPositionSource> source);
    bool hasPositionSource() const;
    VodClassMap classes() const { return client.objectClasses(); }
    VodClient& vodClient() { return client; }
    int channel() const { return channel_; }

    // Frame statistics, for the view and the watch.
    struct FeedStats {
        std::uint64_t frames = 0;
        std::int64_t lastFrameAtUs = 0; // monotonic; 0 before the first frame
        double framesPerSecond = 0.0;
        std::int64_t lastLatencyUs = 0; // decode to folded, last frame
    };
    FeedStats feedStats() const;
    // Runs one watch step now (the timer does it each second).
    void watch(std::int64_t nowUs);

private:
    void armWatch();
    // Monotonic time of the latest frame, or of the start before any.
    std::int64_t lastHeardUs() const;

    int channel_;
    bool debug;
    std::string classFile;
    VodClient client;
    TimerClass watchTimer;
    mutable std::mutex lock;
    TrackerScene scene;
    std::uint64_t subscription = 0;
    std::shared_ptr<VodPositionSource> positions;
    FeedStats stats;
    std::uint64_t framesAtLastWatch = 0;
    std::int64_t lastWatchUs = 0;
    std::int64_t startedAtUs = 0;
    bool silenceReported = false;
    bool watching = false;
};

} // namespace quillon
