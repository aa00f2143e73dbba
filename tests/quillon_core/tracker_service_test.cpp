#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

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

    // Inactive at start: the idle timer runs until tracking is switched on.
    EXPECT_TRUE(service->idleTimerArmed());
    bus.postSettings(application_settings_t{true});
    EXPECT_TRUE(waitFor([&] { return service->hasTracker(); }));
    EXPECT_TRUE(service->trackingEnabled());
    EXPECT_FALSE(service->idleTimerArmed());
    bus.postSettings(application_settings_t{true}); // repeated value: no change
    bus.postSettings(application_settings_t{false});
    EXPECT_TRUE(waitFor([&] { return !service->hasTracker(); }));
    EXPECT_FALSE(service->trackingEnabled());
    EXPECT_TRUE(service->idleTimerArmed());
    bus.postSettings(application_settings_t{true});
    EXPECT_TRUE(waitFor([&] { return service->hasTracker(); }));
    EXPECT_FALSE(service->idleTimerArmed());

    // Shutdown order of the program: tracking off, unsubscribe, release.
    service->prepareToShutdown();
    EXPECT_FALSE(service->hasTracker());
    bus.unsubscribe(service);
    bus.unsubscribe(watcher);
    service.reset();
    unsetenv("CAMROOT");
}

// The idle check runs once, 10 s after the last inactive value (the timer is
// re-armed by it), and only while the application is inactive.
TEST(TrackerService, IdleCheckRunsTenSecondsAfterTheLastInactiveValue)
{
    TempDir root("service-idle");
    setenv("CAMROOT", root.path().c_str(), 1);
    auto& bus = Channel::instance();
    std::atomic<int> idleCalls{0};
    auto service = std::make_shared<TrackerService>([&](CGIHandler*) { ++idleCalls; }, nullptr);
    bus.subscribe(service);

    std::this_thread::sleep_for(std::chrono::seconds(3));
    auto rearmed = std::chrono::steady_clock::now();
    bus.postSettings(application_settings_t{false});
    ASSERT_TRUE(waitFor([&] { return idleCalls > 0; }, std::chrono::seconds(20)));
    auto after = std::chrono::steady_clock::now() - rearmed;
    EXPECT_GE(after, std::chrono::milliseconds(9500)) << "not re-armed by the inactive value";
    EXPECT_EQ(idleCalls, 1);
    EXPECT_FALSE(service->idleTimerArmed());

    bus.unsubscribe(service);
    service.reset();
    EXPECT_EQ(idleCalls, 1) << "an expired timer does not run again on destruction";
    unsetenv("CAMROOT");
}
