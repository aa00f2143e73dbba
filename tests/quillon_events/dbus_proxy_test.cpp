#include <atomic>
#include <string>

#include <gtest/gtest.h>

#include "events_fixture.h"
#include "quillon/events/dbus/dbus_proxy.h"

using namespace quillon;
using namespace eventstest;
using testsupport::waitFor;

namespace
{

const char* kTopic = "tnszeto:Plinth/tnszeto:Quillon/tnszeto:SetAutoTriggers";

json sendEvent(CamsimEvents& events)
{
    return events.camsim.control(
        {{"cmd", "send-event"}, {"topic", kTopic}, {"data", {{"setAutoTriggers", "1"}}}});
}

struct Counter {
    std::atomic<int> calls{0};
    static void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant*, gpointer data)
    {
        ++static_cast<Counter*>(data)->calls;
    }
};

} // namespace

// A subscription filter built from a topic string receives the event that
// camsim sends on that topic.
TEST(DBusProxy, SubscriptionFilterReceivesSentEvent)
{
    CamsimEvents events;
    EventSubscriber subscriber(kTopic);
    ASSERT_GT(subscriber.id(), 0);
    EXPECT_EQ(sendEvent(events)["deliveries"], 1);
    ASSERT_TRUE(subscriber.waitForCount(1));
    EXPECT_NE(subscriber.values()[0].find("'setAutoTriggers': <'1'>"), std::string::npos);
}

// Once a proxy is gone its callbacks stop, also while signals keep coming
// (the user data is freed right after).
TEST(DBusProxy, DestroyedProxyGetsNoCallback)
{
    CamsimEvents events;
    EventSubscriber subscriber(kTopic); // keeps the events flowing to this process
    ASSERT_GT(subscriber.id(), 0);
    for (int round = 0; round < 20; ++round) {
        auto counter = std::make_unique<Counter>();
        auto proxy = std::make_unique<DBusProxy>(
            "com.zeto.EventConsumerd1", "/com/zeto/EventConsumerd1", "com.zeto.EventConsumerd1");
        ASSERT_NE(proxy->subscribeSignal("NotifyEvent", "com.zeto.EventConsumerd1",
                                         Counter::onSignal, counter.get()),
                  0u);
        sendEvent(events);
        sendEvent(events);
        proxy.reset();
        counter.reset(); // ASan reports a callback that still reaches it
    }
    std::size_t before = subscriber.values().size();
    sendEvent(events);
    EXPECT_TRUE(subscriber.waitForCount(before + 1));
}

// Calls to a missing service fail with the logged error; a proxy follows the
// service's owner across a restart.
TEST(DBusProxy, CallsFollowTheOwner)
{
    CamsimEvents events;
    LogCapture log;
    DBusProxy proxy("com.zeto.EventConsumerd1", "/com/zeto/EventConsumerd1",
                    "com.zeto.EventConsumerd1");
    std::string first = proxy.nameOwner();
    EXPECT_FALSE(first.empty());
    events.camsim.stop();
    EXPECT_TRUE(waitFor([&] { return proxy.nameOwner().empty(); }));
    EXPECT_EQ(proxy.callSync("Unsubscribe", g_variant_new("(i)", 1)), nullptr);
    events.camsim.start();
    EXPECT_TRUE(waitFor([&] { return !proxy.nameOwner().empty(); }));
    EXPECT_NE(proxy.nameOwner(), first);
    GVariant* reply = proxy.callSync("Subscribe", generateEventSubscription(kTopic, ""),
                                     DBusProxy::kBusThreadTimeoutMs);
    ASSERT_NE(reply, nullptr);
    g_variant_unref(reply);
    std::string logged = log.text();
    EXPECT_NE(logged.find("An error occurred when invoking method: Unsubscribe : "),
              std::string::npos)
        << logged;
}
