#include "quillon/inputs/fusion/fusion_client.h"

#include <string>
#include <string_view>

#include "mbx.h"
#include "quillon/core/log.h"
#include "quillon/inputs/fusion/fusion_payload.h"

namespace quillon
{

FusionClient::FusionClient(int channelNumber)
    : channel(channelNumber), classes_(makeFusionClassTable())
{
}

FusionClient::~FusionClient()
{
    stop();
    retryTimer.cancel();
    quillonLog(LOG_INFO, "FusionClient destroy.\n");
}

void FusionClient::start(FusionSceneCallback sceneCallback, void* sceneOwner)
{
    stop();
    std::lock_guard<std::mutex> guard(lifecycleLock);
    quillonLog(LOG_INFO, "FusionClient::start...\n");
    callback = std::move(sceneCallback);
    owner = sceneOwner;
    started_ = true;
    if (!connectLocked())
        armRetry();
}

void FusionClient::stop()
{
    const bool wasStarted = started_.exchange(false);
    // Waits for a running retry, which then finds started_ clear.
    retryTimer.cancel();
    std::lock_guard<std::mutex> guard(lifecycleLock);
    if (!wasStarted && connection == nullptr)
        return;
    releaseLocked();
    quillonLog(LOG_INFO, "FusionClient stopped.\n");
}

bool FusionClient::subscribed() const
{
    std::lock_guard<std::mutex> guard(lifecycleLock);
    return subscriber != nullptr;
}

void FusionClient::releaseLocked()
{
    if (subscriber != nullptr)
        mbx_subscriber_destroy(&subscriber);
    if (connection != nullptr)
        mbx_connection_destroy(&connection);
    subscriber = nullptr;
    connection = nullptr;
}

bool FusionClient::connectLocked()
{
    attempts_++;
    mbx_error* error = nullptr;
    connection = mbx_connection_create(errorTrampoline, this, &error);
    if (connection == nullptr) {
        quillonLog(LOG_INFO, " mbx connection %p failed %d %s\n", static_cast<void*>(connection),
                   error != nullptr ? error->code : 0,
                   error != nullptr && error->message != nullptr ? error->message : "");
        mbx_error_destroy(&error);
        return false;
    }
    const std::string source = std::to_string(channel);
    mbx_subscriber_config* config =
        mbx_subscriber_config_create(kTopic, source.c_str(), messageTrampoline, this, &error);
    quillonLog(LOG_INFO, " mbx subscriber config %d => %p \n", channel, static_cast<void*>(config));
    if (config == nullptr) {
        quillonLog(LOG_ERR, "could not create mbx subscriber config %d %s\n",
                   error != nullptr ? error->code : 0,
                   error != nullptr && error->message != nullptr ? error->message : "");
        mbx_error_destroy(&error);
        releaseLocked();
        return false;
    }
    subscriber = mbx_subscriber_create_async(connection, config, nullptr, nullptr, &error);
    mbx_subscriber_config_destroy(&config);
    if (subscriber == nullptr) {
        quillonLog(LOG_ERR, "could not create async mbx subscriber %d %s\n",
                   error != nullptr ? error->code : 0,
                   error != nullptr && error->message != nullptr ? error->message : "");
        mbx_error_destroy(&error);
        releaseLocked();
        return false;
    }
    quillonLog(LOG_INFO, "FusionClient: started.\n");
    return true;
}

void FusionClient::armRetry()
{
    retryTimer.start(
        kRetrySeconds, [this](void*) { onRetry(); }, nullptr);
}

void FusionClient::onRetry()
{
    std::lock_guard<std::mutex> guard(lifecycleLock);
    if (!started_.load() || subscriber != nullptr)
        return;
    if (!connectLocked())
        armRetry();
}

void FusionClient::errorTrampoline(const mbx_error* error, void*)
{
    quillonLog(LOG_ERR, "MBX on error: %s.\n",
               error != nullptr && error->message != nullptr ? error->message : "");
}

void FusionClient::messageTrampoline(const mbx_message* message, void* client)
{
    if (client == nullptr) {
        quillonLog(LOG_ERR, "Error no client pointer\n");
        return;
    }
    if (message == nullptr) {
        quillonLog(LOG_ERR, "Error no message pointer\n");
        return;
    }
    static_cast<FusionClient*>(client)->onMessage(message);
}

void FusionClient::onMessage(const mbx_message* message)
{
    const struct timespec* stamp = mbx_message_get_timestamp(message);
    const mbx_payload* payload = mbx_message_get_payload(message);
    if (stamp == nullptr || payload == nullptr || payload->data == nullptr)
        return;
    TrackerScene scene;
    const std::int64_t sceneTime = fusionSceneTimeUs(stamp->tv_sec, stamp->tv_nsec);
    if (!parseFusionPayload(std::string_view(payload->data, payload->size), sceneTime,
                            rotation_.load(), classes_, scene))
        return;
    if (callback)
        callback(scene, owner);
}

} // namespace quillon
