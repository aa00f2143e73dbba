#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

struct scenefeed_subscriber;

namespace quillon
{

class Channel;
class KineSceneUpdateMessage;

// The client of the scene feed for one channel: owns the subscription while
// started, decodes every framed message into a KineSceneUpdateMessage and
// posts it on the bus. Reconnection after a loss is the library's.
//
// Threads:
// - construction, start, stop and destruction: the owner's thread (the bus
//   thread for a strategy); `lifecycleLock` serialises start and stop.
// - the connect, disconnect and message callbacks: the library's thread.
//   They touch only `connected_` (atomic) and the bus (thread-safe).
// stop() deletes the subscriber, which joins the library thread: once it
// returns no callback runs and nothing more is posted.
//
// The message callback of the library carries no client pointer: the
// connect callback, which runs on the same library thread before any
// message, records the client for that thread.
class KineClient
{
public:
    // `channel` is 0-based, as the scene feed numbers channels. Messages go
    // to `bus` (the process-wide bus without it).
    explicit KineClient(int channel);
    KineClient(int channel, Channel& bus);
    ~KineClient();
    KineClient(const KineClient&) = delete;
    KineClient& operator=(const KineClient&) = delete;

    void start();
    void stop();
    bool connected() const { return connected_.load(); }
    bool started() const;

    // Decodes one framed message into the message to post; null (after the
    // decode error line) when it does not decode. `limit`: readable bytes.
    static std::unique_ptr<KineSceneUpdateMessage> decode(const std::uint8_t* buffer,
                                                          std::size_t limit);

private:
    static void onConnect(void* client);
    static void onDisconnect(void* client);
    static void onMessage(std::uint8_t* buffer);

    int channel;
    Channel& bus;
    std::atomic<bool> connected_{false};
    mutable std::mutex lifecycleLock;
    scenefeed_subscriber* handle = nullptr;
};

} // namespace quillon
