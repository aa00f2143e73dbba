#include "quillon/tracking/detections/vod_scene_holder.h"

#include "quillon/core/channel.h"
#include "quillon/core/log.h"
#include "quillon/inputs/vod/vod_object_class_settings.h"
#include "quillon/inputs/vod/vod_position_source.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/inputs/vod/vod_storage_update.h"
#include "quillon/tracking/detections/vod_scene_view.h"

namespace quillon
{

namespace
{

constexpr int kWatchSeconds = 1;

} // namespace

VodSceneHolder::VodSceneHolder(int channelNumber, bool debugMode)
    : VodSceneHolder(channelNumber, debugMode, Channel::instance(), kVodObjectClassFile)
{
}

VodSceneHolder::VodSceneHolder(int channelNumber, bool debugMode, Channel& bus,
                               std::string classFileName)
    : channel_(channelNumber), debug(debugMode), classFile(std::move(classFileName)),
      client(channelNumber, bus)
{
}

VodSceneHolder::~VodSceneHolder()
{
    stop();
}

void VodSceneHolder::start()
{
    VodObjectClassSettings settings(classFile);
    client.setObjectClasses(settings.loadOrCreate(), true);
    client.start();
    std::lock_guard<std::mutex> guard(lock);
    watching = true;
    lastWatchUs = monotonicNowUs();
    startedAtUs = lastWatchUs;
    framesAtLastWatch = stats.frames;
    armWatch();
}

void VodSceneHolder::stop()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        watching = false;
    }
    // A running watch re-arms only while `watching`; cancel then disarms it.
    watchTimer.cancel();
    client.stop();
}

void VodSceneHolder::prepareToShutdown()
{
    stop();
}

void VodSceneHolder::armWatch()
{
    watchTimer.start(
        kWatchSeconds, [this](void*) { watch(monotonicNowUs()); }, nullptr);
}

void VodSceneHolder::handleMessage(const std::shared_ptr<Message>& message)
{
    auto update = std::dynamic_pointer_cast<VodSceneUpdateMessage>(message);
    if (update)
        fold(*update);
}

int VodSceneHolder::fold(const VodSceneUpdateMessage& update, std::optional<int> tracked)
{
    std::lock_guard<std::mutex> guard(lock);
    if (update.subscription != subscription) {
        // A new subscription numbers its tracks afresh: nothing stored
        // before names the same object.
        subscription = update.subscription;
        scene = TrackerScene(update.sceneTimeUs);
    }
    if (tracked)
        scene.setTracked(*tracked);
    scene = updateVodStorage(scene, update, positions.get());
    const std::int64_t now = monotonicNowUs();
    if (silenceReported) {
        quillonLog(LOG_INFO, "detection frames resumed after %lld s\n",
                   static_cast<long long>((now - lastHeardUs()) / 1000000));
        silenceReported = false;
    }
    stats.frames++;
    stats.lastFrameAtUs = now;
    stats.lastLatencyUs = now - update.decodedAtUs;
    return scene.trackedId;
}

TrackerScene VodSceneHolder::snapshot() const
{
    std::lock_guard<std::mutex> guard(lock);
    return scene.deepCopy();
}

void VodSceneHolder::setPositionSource(std::shared_ptr<VodPositionSource> source)
{
    std::lock_guard<std::mutex> guard(lock);
    positions = std::move(source);
}

bool VodSceneHolder::hasPositionSource() const
{
    std::lock_guard<std::mutex> guard(lock);
    return positions != nullptr;
}

VodSceneHolder::FeedStats VodSceneHolder::feedStats() const
{
    std::lock_guard<std::mutex> guard(lock);
    return stats;
}

void VodSceneHolder::watch(std::int64_t nowUs)
{
    TrackerScene copy;
    FeedStats current;
    bool havePositions = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!watching)
            return;
        const double seconds = static_cast<double>(nowUs - lastWatchUs) / 1e6;
        if (seconds > 0)
            stats.framesPerSecond = static_cast<double>(stats.frames - framesAtLastWatch) / seconds;
        framesAtLastWatch = stats.frames;
        lastWatchUs = nowUs;
        const std::int64_t silent = nowUs - lastHeardUs();
        if (!silenceReported && client.started() && silent >= kSilenceUs) {
            quillonLog(LOG_WARNING, "no detection frames for %lld s\n",
                       static_cast<long long>(silent / 1000000));
            silenceReported = true;
        }
        if (debug) {
            copy = scene.deepCopy();
            current = stats;
            havePositions = positions != nullptr;
        }
        armWatch();
    }
    if (debug)
        printVodView(copy, current, client.objectClasses(), havePositions, nowUs);
}

std::int64_t VodSceneHolder::lastHeardUs() const
{
    return stats.lastFrameAtUs != 0 ? stats.lastFrameAtUs : startedAtUs;
}

} // namespace quillon
