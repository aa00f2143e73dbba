#include "quillon/inputs/vod/vod_client.h"

#include <cmath>

#include "quillon/core/channel.h"
#include "quillon/core/log.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/tracking/objects/tracker_scene.h"

namespace quillon
{

namespace
{

constexpr std::int64_t kNonFiniteLogIntervalUs = 1000000;

bool finiteBox(const VodDetectionRecord& d)
{
    return std::isfinite(d.left) && std::isfinite(d.top) && std::isfinite(d.right) &&
           std::isfinite(d.bottom);
}

} // namespace

VodClient::VodClient(int channelNumber) : VodClient(channelNumber, Channel::instance()) {}

VodClient::VodClient(int channelNumber, Channel& channelBus)
    : channel(channelNumber), bus(channelBus)
{
    quillonLog(LOG_INFO, "VodClient %d created.\n", channel);
}

VodClient::~VodClient()
{
    if (started_.load())
        stop();
    // Destroying an armed timer would run the restart.
    restartTimer.cancel();
    quillonLog(LOG_INFO, "VodClient destroyed.\n");
}

int VodClient::start()
{
    restartTimer.cancel();
    std::lock_guard<std::mutex> guard(lifecycleLock);
    quillonLog(LOG_INFO, "VodClient starting...\n");
    started_ = true;
    int rc = subscribeLocked();
    quillonLog(LOG_INFO, "VodClient started.\n");
    return rc;
}

void VodClient::stop()
{
    if (!started_.exchange(false))
        return;
    quillonLog(LOG_INFO, "VodClient stop...\n");
    restartTimer.cancel();
    std::lock_guard<std::mutex> guard(lifecycleLock);
    VodParser::instance().teardown(this);
    quillonLog(LOG_INFO, "VodClient stopped.\n");
}

// Subscribes through the parser. A failure other than a refusal (another
// client owns the feed) tears the half-made subscription down and retries.
int VodClient::subscribeLocked()
{
    VodParser& parser = VodParser::instance();
    int rc = parser.init(channel - 1, sceneTrampoline, teardownTrampoline, this);
    if (rc == 0) {
        subscription_++;
        std::vector<ObjectClassInfo> detector = parser.classes();
        std::lock_guard<std::mutex> guard(classLock);
        refreshThresholdsLocked(detector);
    } else if (rc != 1) {
        parser.teardown(this);
        quillonLog(LOG_WARNING, "VodClient: no detection feed (%d), retrying in %d s\n", rc,
                   kRestartSeconds);
        armRestart();
    }
    return rc;
}

void VodClient::armRestart()
{
    restartTimer.start(
        kRestartSeconds, [this](void*) { onRestartTimer(); }, nullptr);
}

void VodClient::restart()
{
    if (!started_.load())
        return;
    quillonLog(LOG_INFO, "VodClient attempting restart...\n");
    // The subscription is ended on the timer thread: the library thread
    // cannot wait for an owner that is ending it.
    armRestart();
}

void VodClient::onRestartTimer()
{
    std::lock_guard<std::mutex> guard(lifecycleLock);
    if (!started_.load())
        return;
    VodParser::instance().teardown(this);
    subscribeLocked();
}

void VodClient::setObjectClasses(const VodClassMap& map, bool fillThresholds)
{
    // The parser's lock is never taken under classLock: its teardown waits
    // for the library thread, which may be waiting for classLock.
    std::vector<ObjectClassInfo> detector = VodParser::instance().classes();
    std::lock_guard<std::mutex> guard(classLock);
    configured = map;
    detectorThresholds = fillThresholds;
    refreshThresholdsLocked(detector);
}

void VodClient::refreshThresholdsLocked(const std::vector<ObjectClassInfo>& detector)
{
    classes = configured;
    if (!detectorThresholds)
        return;
    for (const ObjectClassInfo& info : detector) {
        auto it = classes.find(info.id);
        if (it != classes.end() && it->second.threshold < 0)
            it->second.threshold = info.threshold;
    }
}

VodClassMap VodClient::objectClasses() const
{
    std::lock_guard<std::mutex> guard(classLock);
    return classes;
}

VodClassMap VodClient::detectorClassMap() const
{
    VodClassMap map;
    const std::vector<ObjectClassInfo> list = VodParser::instance().classes();
    for (std::size_t i = 0; i < list.size(); i++) {
        const ObjectClassInfo& info = list[i];
        if (info.id < 0 || info.name.empty())
            continue;
        map.emplace(info.id, VodObjectType{info.id, info.name, info.threshold, false, true});
    }
    return map;
}

void VodClient::sceneTrampoline(const VodSceneRecord& scene, void* client, VodParser&)
{
    if (client == nullptr) {
        quillonLog(LOG_ERR, "No tracker pointer.\n");
        return;
    }
    static_cast<VodClient*>(client)->processScene(scene);
}

int VodClient::teardownTrampoline(void* client)
{
    if (client == nullptr) {
        quillonLog(LOG_ERR, "No VodClient pointer.\n");
        return -1;
    }
    static_cast<VodClient*>(client)->restart();
    return 0;
}

void VodClient::processScene(const VodSceneRecord& scene)
{
    bus.post(buildMessage(scene));
}

std::unique_ptr<VodSceneUpdateMessage> VodClient::buildMessage(const VodSceneRecord& scene)
{
    auto message = std::make_unique<VodSceneUpdateMessage>();
    message->sceneTimeUs = static_cast<std::int64_t>(scene.timestamp / 1000);
    message->subscription = subscription_.load();
    message->decodedAtUs = monotonicNowUs();
    unsigned nonFinite = 0;
    {
        std::lock_guard<std::mutex> guard(classLock);
        if (classes.empty())
            quillonLog(LOG_INFO, "VodClient: Received VOD data, but does not have any object "
                                 "class settings\n");
        for (const VodDetectionRecord& d : scene.detections) {
            if (!finiteBox(d)) {
                nonFinite++;
                continue;
            }
            auto it = classes.find(static_cast<std::int32_t>(d.detClass));
            if (it == classes.end()) {
                quillonLog(LOG_WARNING, "Failed to find object class %d \n",
                           static_cast<int>(d.detClass));
                continue;
            }
            const VodObjectType& type = it->second;
            if (!type.enabled)
                continue;
            int status = d.status;
            if (status < kVodUntracked || status > kVodTrackedConfident) {
                quillonLog(LOG_WARNING, "Error: Unknown detection status %d\n", status);
                status = kVodUntracked;
            }
            const auto id = static_cast<std::int32_t>(d.id);
            if (message->objects.count(id) != 0)
                continue;
            message->objects.emplace(id, VodObject(id, message->sceneTimeUs,
                                                   Polygon::box(d.left, d.right, d.top, d.bottom),
                                                   static_cast<int>(d.score), type.threshold,
                                                   type.id, type.human, status, true));
        }
    }
    for (const VodEventRecord& e : scene.events) {
        VodEvent event;
        event.action = e.action;
        if (event.action != kVodEventDelete && event.action != kVodEventConnect) {
            quillonLog(LOG_WARNING, "Error: Unknown event type %d\n", e.action);
            event.action = kVodEventDelete;
        }
        event.objectId = e.objectId;
        for (std::uint32_t k = 0; k < e.idCount && k < VodEventRecord::kMaxIds; k++)
            event.objectIds.insert(e.ids[k]);
        message->events.push_back(std::move(event));
    }
    if (nonFinite > 0) {
        nonFiniteSkipped += nonFinite;
        const std::int64_t now = message->decodedAtUs;
        if (now - nonFiniteLoggedUs >= kNonFiniteLogIntervalUs) {
            quillonLog(LOG_WARNING,
                       "VodClient: skipped %u detection(s) with non-finite coordinates\n",
                       nonFiniteSkipped);
            nonFiniteLoggedUs = now;
            nonFiniteSkipped = 0;
        }
    }
    return message;
}

} // namespace quillon
