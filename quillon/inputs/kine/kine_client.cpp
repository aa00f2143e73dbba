#include "quillon/inputs/kine/kine_client.h"

#include <cstdlib>

#include "quillon/core/channel.h"
#include "quillon/core/log.h"
#include "quillon/inputs/kine/kine_decode.h"
#include "quillon/inputs/kine/kine_scene_update_message.h"
#include "quillon/tracking/objects/tracker_scene.h"
#include "scenefeed.h"

namespace quillon
{

namespace
{

// The client whose subscriber runs on this library thread (set by the
// connect callback, which precedes every message of a connection).
thread_local KineClient* threadClient = nullptr;

} // namespace

KineClient::KineClient(int channelIndex) : KineClient(channelIndex, Channel::instance()) {}

KineClient::KineClient(int channelIndex, Channel& channelBus)
    : channel(channelIndex), bus(channelBus)
{
    quillonLog(LOG_INFO, "KineClient created. \n");
}

KineClient::~KineClient()
{
    stop();
    quillonLog(LOG_INFO, "KineClient stopped. \n");
}

bool KineClient::started() const
{
    std::lock_guard<std::mutex> guard(lifecycleLock);
    return handle != nullptr;
}

void KineClient::start()
{
    stop();
    std::lock_guard<std::mutex> guard(lifecycleLock);
    quillonLog(LOG_INFO, " KineClient starting...\n");
    handle = scenefeed_create(channel, SCENEFEED_FORMAT_FRAMED_PROTOBUF, this);
    if (handle == nullptr)
        quillonLog(LOG_ERR, "KineClient start => %p\n", static_cast<void*>(handle));
    // Every step is tried even after a refusal: each one that fails is
    // logged and the next still made (the library refuses a null handle).
    int rc = scenefeed_set_on_connect_callback(handle, onConnect);
    if (rc != 0)
        quillonLog(LOG_ERR, "KineClient set cb1 %d\n", rc);
    rc = scenefeed_set_on_disconnect_callback(handle, onDisconnect);
    if (rc != 0)
        quillonLog(LOG_ERR, "KineClient set cb2 %d\n", rc);
    rc = scenefeed_set_on_message_arrived_callback(handle, onMessage);
    if (rc != 0)
        quillonLog(LOG_ERR, "KineClient set cb3 %d\n", rc);
    rc = scenefeed_set_velocity_enabled(handle);
    if (rc != 0)
        quillonLog(LOG_ERR, "KineClient set velo %d\n", rc);
    rc = scenefeed_set_bounding_box_enabled(handle);
    if (rc != 0)
        quillonLog(LOG_ERR, "KineClient set box %d\n", rc);
    rc = scenefeed_set_low_confident_enabled(handle);
    if (rc != 0)
        quillonLog(LOG_ERR, "KineClient low confident %d\n", rc);
    rc = scenefeed_set_reconnect(handle, 1);
    if (rc != 0)
        quillonLog(LOG_ERR, "KineClient set reconn %d\n", rc);
    rc = scenefeed_subscribe(handle);
    if (rc != 0) {
        quillonLog(LOG_ERR, "KineClient sub %d\n", rc);
        // Nothing delivers without a subscription: free what was made.
        if (handle != nullptr)
            scenefeed_delete(handle);
        handle = nullptr;
        return;
    }
    quillonLog(LOG_INFO, "KineClient started! \n");
}

void KineClient::stop()
{
    std::lock_guard<std::mutex> guard(lifecycleLock);
    if (handle == nullptr)
        return;
    quillonLog(LOG_INFO, "KineClient stop... \n");
    scenefeed_unsubscribe(handle);
    scenefeed_delete(handle);
    connected_ = false;
    handle = nullptr;
    quillonLog(LOG_INFO, " KineClient stopped.\n");
}

void KineClient::onConnect(void* client)
{
    quillonLog(LOG_INFO, "scene on_connect... %p\n", client);
    auto* self = static_cast<KineClient*>(client);
    threadClient = self;
    if (self != nullptr)
        self->connected_ = true;
}

void KineClient::onDisconnect(void* client)
{
    quillonLog(LOG_INFO, "scene on_disconnect... %p\n", client);
    if (client != nullptr)
        static_cast<KineClient*>(client)->connected_ = false;
}

std::unique_ptr<KineSceneUpdateMessage> KineClient::decode(const std::uint8_t* buffer,
                                                           std::size_t limit)
{
    auto message = std::make_unique<KineSceneUpdateMessage>();
    if (!decodeKineMessage(buffer, limit, message->update))
        return nullptr;
    message->decodedAtUs = monotonicNowUs();
    return message;
}

void KineClient::onMessage(std::uint8_t* buffer)
{
    KineClient* self = threadClient;
    if (buffer != nullptr && self != nullptr) {
        // The library delivers only messages whose length word matches what
        // it received, so the word bounds the readable bytes.
        std::unique_ptr<KineSceneUpdateMessage> message = decode(buffer, kKineMaxFramed);
        if (message)
            self->bus.post(std::move(message));
    } else if (self == nullptr) {
        quillonLog(LOG_ERR, "Error no client pointer\n");
    }
    free(buffer);
}

} // namespace quillon
