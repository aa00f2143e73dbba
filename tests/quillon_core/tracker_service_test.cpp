#include <stdlib.h>

#include <atomic>
#include <memory>

#include <gtest/gtest.h>

#include "quillon/config/settings/settings_types.h"
#include "quillon/core/channel.h"
#include "quillon/core/message.h"
#include "quillon/core/tracker_service.h"
#include "support/temp_dir.h"
#include "support/wait.h"

using namespace quillon;
using testsupport::TempDir;
using testsupport::waitFor;

namespace
{

class Watcher : public MessageReceiver
{
public:
    void handleMessage(const std::shared_ptr<Message>& message) override
    {
        if (std::dynamic_pointer_cast<NewVideoSourcesMessage>(message))
            ++videoSources;
    }
    void prepareToShutdown() override {}
    std::atomic<int> videoSources{0};
};

} // namespace

// Tracking follows the application's active value as it arrives on the bus;
// the worker loads settings.conf and product.conf at start.
TEST(TrackerService, SwitchesTrackingWithTheActiveSetting)
{
    TempDir root("service");
    setenv("CAMROOT", root.path().c_str(), 1);
    auto& bus = Channel::instance();
    auto watcher = std::make_shared<Watcher>();
    bus.subscribe(watcher);

    std::atomic<int> idleCalls{0};
    auto service = std::make_shared<TrackerService>([&](CGIHandler*) { ++idleCalls; }, nullptr);
    bus.subscribe(service);
    EXPECT_TRUE(waitFor([&] { return watcher->videoSources == 1; }));
    EXPECT_TRUE(waitFor([&] { return root.exists("etc/quillon/settings.conf"); }));
    EXPECT_TRUE(waitFor([&] { return root.exists("etc/quillon/product.conf"); }));
    EXPECT_FALSE(root.exists("etc/quillon/application.conf")); // loaded only when needed

    bus.postSettings(application_settings_t{true});
    EXPECT_TRUE(waitFor([&] { return service->hasTracker(); }));
    EXPECT_TRUE(service->trackingEnabled());
    bus.postSettings(application_settings_t{true}); // repeated value: no change
    bus.postSettings(application_settings_t{false});
    EXPECT_TRUE(waitFor([&] { return !service->hasTracker(); }));
    EXPECT_FALSE(service->trackingEnabled());
    bus.postSettings(application_settings_t{true});
    EXPECT_TRUE(waitFor([&] { return service->hasTracker(); }));

    // Shutdown order of the program: tracking off, unsubscribe, release.
    service->prepareToShutdown();
    EXPECT_FALSE(service->hasTracker());
    bus.unsubscribe(service);
    bus.unsubscribe(watcher);
    service.reset();
    EXPECT_EQ(idleCalls, 0);
    unsetenv("CAMROOT");
}
