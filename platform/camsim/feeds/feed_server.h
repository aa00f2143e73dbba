#pragma once

#include <glib.h>

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>

#include "encoders.h"
#include "frame_engine.h"

namespace camsim::feeds
{

// Topic of the analytics scene description on the broker.
inline constexpr const char* kAnalyticsTopic = "com.zeto.analytics_scene_description.v0.beta";

// Serves the detection feed, the scene feed and the message broker on three
// Unix stream sockets (protocol in feedwire.h) from sources attached to one
// GMainContext. Everything runs on that context's thread.
//
// Channels: the detection and scene feeds take a 0-based channel index, the
// broker's per-channel topics use the 1-based channel number as source. Every
// channel shows the same simulated scene.
class FeedServer
{
public:
    struct Paths {
        std::string detfeed;
        std::string scenefeed;
        std::string mbx;
    };
    struct Stats {
        unsigned detClients = 0;   // subscribed detection-feed clients
        unsigned sceneClients = 0; // subscribed scene-feed clients
        unsigned mbxClients = 0;   // broker connections
        unsigned mbxSubscriptions = 0;
        std::uint64_t frames = 0;  // frames published
        std::uint64_t dropped = 0; // clients dropped (malformed input, slow, gone)
    };

    // What the detection feed sends in place of each frame while it is not
    // stalled or dropped (setFault): the frame; a frame whose payload is not
    // a VOD.Scene; bytes that are not a frame at all (the subscriber sees a
    // broken stream).
    enum class DetFault { None, Undecodable, Garbage };

    FeedServer(GMainContext* context, int channels);
    ~FeedServer();
    FeedServer(const FeedServer&) = delete;
    FeedServer& operator=(const FeedServer&) = delete;

    // Binds the three sockets (paths as given; stale sockets are replaced).
    bool listen(const Paths& paths, std::string& error);
    void close();

    // Sends one analysed frame to every subscriber of the three feeds.
    void publish(const Frame& frame);
    // Publishes a message on the broker to the subscribers of (topic, source);
    // returns how many subscriptions got it.
    unsigned publishMessage(const std::string& topic, const std::string& source,
                            std::int64_t timestampNs, const std::string& payload);

    // Faults of whole feeds, for tests of the subscribers: Stall keeps the
    // connections but sends no more frames or broker messages (requests are
    // still answered); Drop closes every connection of the feed and each new
    // one at once; None serves normally again.
    enum class FaultMode { None, Stall, Drop };
    enum FeedBit : unsigned { kDetectionFeed = 1, kSceneFeed = 2, kAnalyticsFeed = 4 };
    // Applies `mode` to the feeds whose bits are set in `feeds`.
    void setFault(unsigned feeds, FaultMode mode);
    FaultMode fault(FeedBit feed) const;
    // Extra latency of the feeds whose bits are set: their frames (broker
    // messages) go out `ms` later than they would, in order; 0 ends it.
    // Frames already held keep their time.
    void setDelay(unsigned feeds, int ms);
    int delay(FeedBit feed) const;

    Stats stats() const;

    void setDetFault(DetFault fault);
    DetFault detFault() const { return detFault_; }
    // Sends `payload` as one detection frame to every detection subscriber;
    // returns how many got it.
    unsigned injectDetFrame(const Bytes& payload);
    // Detector information answered to DET_INFO_REQUEST (empty: the
    // built-in classes).
    void setDetectorInformation(Bytes info) { detectorInfo_ = std::move(info); }

private:
    enum class Kind { Det, Scene, Mbx };
    struct Client;
    struct Listener;

    bool listenOne(Kind kind, const std::string& path, std::string& error);
    void accept(Listener& l);
    bool onReadable(Client& c);
    bool handle(Client& c, std::uint16_t type, const std::uint8_t* payload, std::uint32_t length);
    void send(Client& c, std::uint16_t type, const void* payload, std::size_t length);
    void sendRaw(Client& c, const void* bytes, std::size_t length);
    void sendDetFrame(Client& c, const Bytes& vod);
    void flush(Client& c);
    void drop(Client& c);
    void reap();
    // Sends one frame to the subscribers of one feed (no delay).
    void publishTo(Kind kind, const Frame& frame);
    void armDelayed();
    gboolean onDelayed();

    // A frame held back by setDelay.
    struct Delayed {
        std::int64_t dueNs;
        std::shared_ptr<const Frame> frame;
    };

    GMainContext* context_;
    int channels_;
    FaultMode faults_[3] = {FaultMode::None, FaultMode::None, FaultMode::None}; // by Kind
    std::list<std::unique_ptr<Listener>> listeners_;
    std::list<std::unique_ptr<Client>> clients_;
    std::uint64_t frames_ = 0;
    std::uint64_t dropped_ = 0;
    DetFault detFault_ = DetFault::None;
    Bytes detectorInfo_;
    int delayMs_[3] = {0, 0, 0};     // by Kind
    std::deque<Delayed> delayed_[3]; // by Kind, due times increasing
    GSource* delayTimer_ = nullptr;
};

} // namespace camsim::feeds
