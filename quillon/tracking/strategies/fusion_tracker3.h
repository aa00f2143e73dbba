#pragma once

#include <cstdint>
#include <memory>

#include "quillon/core/message.h"
#include "quillon/tracking/strategies/generic_tracker.h"
#include "quillon/tracking/strategies/scene_feeds.h"

namespace quillon
{

class FusionClient;

// One scene of the analytics topic on its way from the broker's thread to
// the bus thread. `owner` tells which strategy it is for (compared, never
// dereferenced).
class FusionSceneMessage : public Message
{
public:
    FusionSceneMessage(TrackerScene s, const void* o) : scene(std::move(s)), owner(o) {}

    TrackerScene scene;
    const void* owner;
};

// Tracker type 4: follows the objects of the analytics topic. The client's
// callback only posts each scene on the bus; the step runs there. After a
// stop the stopped id stays in the scene for 7 s, so that only that object
// can be taken again meanwhile.
//
// Threads: every slot and the step on the bus thread; the client calls back
// on the broker's thread and only posts. prepareToShutdown stops the
// client, after which nothing more is posted. The picture rotation for the
// client's box conversion comes from the picture format at construction and
// from viewport settings messages.
class FusionTracker3 : public GenericTracker
{
public:
    static constexpr std::int64_t kStopMemoryUs = 7000000;

    FusionTracker3(int channel, TrackerCallback callback, Tracker* tracker,
                   const SceneFeeds& feeds = {});
    ~FusionTracker3() override;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override;
    bool hasObject(int id) override;
    bool setTrackingObject(int id, bool force) override;
    void unsetTrackingObject(bool exclude) override;

    void step(TrackerScene scene);
    const TrackerScene& scene() const { return scene_; }
    int trackedId() const { return trackedId_; }
    FusionClient& client() { return *client_; }

private:
    TrackerScene scene_;
    int trackedId_ = -1;
    std::unique_ptr<FusionClient> client_;
};

} // namespace quillon
