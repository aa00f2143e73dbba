// The event listener against camsim's event consumer: its subscriptions,
// a consumer that comes late, a consumer that restarts, and stopping.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "events_fixture.h"
#include "quillon/api/methods/api_state.h"
#include "quillon/events/listener/event_listener.h"

using namespace quillon;
using namespace eventstest;
using testsupport::waitFor;

namespace
{

const char* kRoot = "tnszeto:Plinth/tnszeto:Quillon/tnszeto:";

// The topics of camsim's subscriptions, one entry per subscription.
std::multiset<std::string> subscribedTopics(const CamsimEvents& events)
{
    std::multiset<std::string> out;
    for (const auto& s : events.camsim.control({{"cmd", "event-subscriptions"}}))
        out.insert(s.value("topic", ""));
    return out;
}

const std::multiset<std::string> kThree = {std::string(kRoot) + "SetAutoTriggers",
                                           std::string(kRoot) + "SetProfile",
                                           std::string(kRoot) + "SetTemporaryZone"};

void sendAutoTriggers(const CamsimEvents& events, const std::string& value)
{
    events.camsim.control({{"cmd", "send-event"},
                           {"topic", std::string(kRoot) + "SetAutoTriggers"},
                           {"data", {{"setAutoTriggers", value}}}});
}

} // namespace

TEST(EventListener, TopicNames)
{
    EXPECT_EQ(EventListener::topicOf("SetProfile"), std::string(kRoot) + "SetProfile");
    EXPECT_EQ(EventListener::leafOf(std::string(kRoot) + "SetProfile"), "SetProfile");
    EXPECT_EQ(EventListener::leafOf("a:b:C"), "C");
    EXPECT_EQ(EventListener::leafOf("Plain"), "Plain");
}

// Three subscriptions at once; a NotifyEvent reaches the handler on the
// listener's thread; stop unsubscribes them all and subscribes nothing
// when the consumer comes back.
TEST(EventListener, SubscribesHandlesAndStops)
{
    CamsimEvents events;
    auto listener = std::make_shared<EventListener>();
    EXPECT_EQ(subscribedTopics(events), kThree);
    auto ids = listener->subscriptions();
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids.begin()->first, "SetAutoTriggers");

    apiState().autoTrackingEnabled = true;
    sendAutoTriggers(events, "0");
    EXPECT_TRUE(waitFor([] { return !apiState().autoTrackingEnabled; }));
    sendAutoTriggers(events, "1");
    EXPECT_TRUE(waitFor([] { return apiState().autoTrackingEnabled.load(); }));

    listener->prepareToShutdown();
    EXPECT_EQ(listener->subscriptionCount(), 0u);
    ASSERT_TRUE(waitFor([&] { return subscribedTopics(events).empty(); }));
    events.camsim.control({{"cmd", "events-restart"}});
    // The consumer is back (its name returned): still nothing subscribed.
    ASSERT_TRUE(waitFor([&] {
        return events.camsim.control(
                   {{"cmd", "send-event"},
                    {"topic", std::string(kRoot) + "SetProfile"}})["deliveries"] == 0;
    }));
    listener.reset();
    EXPECT_TRUE(subscribedTopics(events).empty());
}

// A consumer that starts after the daemon, and one that restarts: the
// listener subscribes when it (re)appears, once per topic.
TEST(EventListener, FollowsTheConsumer)
{
    CamsimEvents events({}, false);
    LogCapture log;
    auto listener = std::make_shared<EventListener>();
    EXPECT_EQ(listener->subscriptionCount(), 0u);
    events.camsim.start();
    ASSERT_TRUE(waitFor([&] { return listener->subscriptionCount() == 3; }));
    EXPECT_EQ(subscribedTopics(events), kThree);
    auto before = listener->subscriptions();

    events.camsim.control({{"cmd", "events-restart"}, {"away", 1}});
    ASSERT_TRUE(waitFor([&] { return listener->subscriptionCount() == 0; }));
    ASSERT_TRUE(waitFor([&] { return subscribedTopics(events) == kThree; }));
    ASSERT_TRUE(waitFor([&] { return listener->subscriptionCount() == 3; }));
    EXPECT_NE(listener->subscriptions(), before); // new ids
    apiState().autoTrackingEnabled = true;
    sendAutoTriggers(events, "0");
    EXPECT_TRUE(waitFor([] { return !apiState().autoTrackingEnabled; }));
    apiState().autoTrackingEnabled = true;

    listener.reset();
    std::string lines = log.text();
    EXPECT_EQ(count(lines, "Event consumer com.zeto.EventConsumerd1 is not on the bus"), 1u)
        << lines;
    EXPECT_EQ(count(lines, "subscribing again"), 2u) << lines;
    EXPECT_EQ(count(lines, "Event consumer com.zeto.EventConsumerd1: 3 of 3 subscriptions made"),
              2u)
        << lines;
    EXPECT_EQ(count(lines, "vanished: 3 subscriptions forgotten"), 1u) << lines;
}
