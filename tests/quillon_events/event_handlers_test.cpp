#include <glib.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "events_fixture.h"
#include "quillon/events/producer/event_producer.h"
#include "quillon/events/producer/state_event_handler.h"
#include "quillon/events/producer/stream_objects_event.h"
#include "quillon/events/producer/zone_profile_event_handler.h"

using namespace quillon;
using namespace eventstest;
using testsupport::waitFor;

namespace
{

const char* kStateTopic = "tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutotrackingState";

std::string eventTopic(const json& event)
{
    return event.value("topic", "");
}

} // namespace

// Declared once with the exact argument; one event per change, entries in
// order, the time stamp on the wall clock; stop undeclares.
TEST(EventHandlers, AutotrackingStateDeclaresSendsAndUndeclares)
{
    CamsimEvents events;
    EventSubscriber subscriber(kStateTopic);
    ASSERT_GT(subscriber.id(), 0);

    AutotrackingStateEventHandler handler;
    handler.start();
    handler.start(); // started once
    json declared = events.declared();
    ASSERT_EQ(declared.size(), 1u) << declared.dump();
    EXPECT_EQ(declared[0]["declaration"],
              "(false, {'topic0': 'VALUE_TYPE_STRING', 'topic1': 'VALUE_TYPE_STRING', 'topic2': "
              "'VALUE_TYPE_STRING', 'stateInfo': 'VALUE_TYPE_BOOL', 'channel': 'VALUE_TYPE_INT'}, "
              "{'topic0': <'Plinth'>, 'topic1': <'Quillon'>, 'topic2': <'AutotrackingState'>}, "
              "{'topic2': 'Quillon: Is tracking'}, {'topic2': 'Quillon: Is tracking'}, {'topic0': "
              "'tnszeto', 'topic1': 'tnszeto', 'topic2': 'tnszeto'}, {'stateInfo': "
              "<['onvif-data']>, 'channel': <['onvif-source']>}, 'stateInfo')");
    EXPECT_EQ(declared[0]["id"], handler.declarationId());

    handler.setState(false, 1, g_get_monotonic_time()); // the initial value: nothing
    int64_t before = g_get_real_time();
    handler.setState(true, 1, g_get_monotonic_time());
    int64_t after = g_get_real_time();
    handler.setState(true, 1, g_get_monotonic_time());
    handler.setState(false, 3, g_get_monotonic_time());
    ASSERT_TRUE(subscriber.waitForCount(2));
    auto values = subscriber.values();
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0], "{'topic0': <'Plinth'>, 'topic1': <'Quillon'>, 'topic2': "
                         "<'AutotrackingState'>, 'stateInfo': <true>, 'channel': <1>}");
    EXPECT_NE(values[1].find("'stateInfo': <false>, 'channel': <3>}"), std::string::npos);
    json sent = events.sent();
    ASSERT_EQ(sent.size(), 2u);
    int64_t stamp = sent[0]["timestamp"];
    EXPECT_GE(stamp, before - 50000);
    EXPECT_LE(stamp, after + 50000);

    handler.stop();
    EXPECT_TRUE(waitFor([&] { return events.declared().empty(); }));
    // Stopped: the value is kept, nothing is sent.
    handler.setState(true, 1, g_get_monotonic_time());
    EXPECT_EQ(events.sent().size(), 2u);
}

// Id 0 is a declaration like any other: it is used and undeclared.
TEST(EventHandlers, DeclarationIdZeroIsUndeclared)
{
    CamsimEvents events({"--events-first-id", "0"});
    AutotrackingEnabledEventHandler handler(false);
    handler.start();
    ASSERT_EQ(handler.declarationId(), 0);
    handler.setEnabled(true, 1, g_get_monotonic_time());
    ASSERT_TRUE(waitFor([&] { return events.sent().size() == 1; }));
    EXPECT_EQ(events.sent()[0]["data"], json({{"autoTriggersEnabled", true}, {"channel", 1}}));
    EXPECT_EQ(events.declared()[0]["declaration"].get<std::string>().substr(0, 6), "(true,");
    handler.stop();
    EXPECT_TRUE(waitFor([&] { return events.declared().empty(); }));
}

// Without a producer both failure lines are logged and nothing is sent; once
// the producer is up the next change declares once and is sent.
TEST(EventHandlers, ProducerAbsentThenUp)
{
    CamsimEvents events({}, false);
    LogCapture log;
    AutotrackingStateEventHandler handler;
    handler.start();
    EXPECT_LT(handler.declarationId(), 0);
    handler.setState(true, 1, g_get_monotonic_time()); // within the retry interval

    events.camsim.start();
    // A retry waits a second after the failed attempt.
    g_usleep(static_cast<gulong>(DeclaredEvent::kRetryIntervalUs));
    handler.setState(false, 1, g_get_monotonic_time());
    handler.setState(true, 1, g_get_monotonic_time());
    ASSERT_TRUE(waitFor([&] { return events.sent().size() == 2; }));
    EXPECT_EQ(events.declared().size(), 1u);
    EXPECT_EQ(events.sent()[0]["data"]["stateInfo"], false);
    std::string logged = log.text();
    EXPECT_EQ(count(logged, "Could not declare event: -1\n"), 1u) << logged;
    EXPECT_EQ(count(logged, "AutotrackingStateEventHandler declare failed\n"), 1u) << logged;
}

// A restarted producer forgot the declaration: the next change declares
// again and arrives; the old id is not undeclared at the new producer.
TEST(EventHandlers, ProducerRestarted)
{
    CamsimEvents events({"--events-first-id", "5"});
    AutotrackingStateEventHandler handler;
    handler.start();
    handler.setState(true, 1, g_get_monotonic_time());
    ASSERT_TRUE(waitFor([&] { return events.sent().size() == 1; }));

    events.camsim.restart();
    handler.setState(false, 1, g_get_monotonic_time());
    ASSERT_TRUE(waitFor([&] { return events.sent().size() == 1; }));
    EXPECT_EQ(events.sent()[0]["data"]["stateInfo"], false);
    json declared = events.declared();
    ASSERT_EQ(declared.size(), 1u);
    EXPECT_EQ(declared[0]["id"], handler.declarationId());
}

// A frozen producer holds a declaration for 2 s at most.
TEST(EventHandlers, FrozenProducerDeclarationTimesOut)
{
    CamsimEvents events;
    LogCapture log;
    events.freeze();
    AutotrackingStateEventHandler handler;
    auto start = std::chrono::steady_clock::now();
    handler.start();
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(10)); // the default would be 25 s
    EXPECT_LT(handler.declarationId(), 0);
    std::string logged = log.text();
    EXPECT_NE(logged.find("An error occurred when invoking method: DeclareEvent"),
              std::string::npos)
        << logged;
}

// Profile events: the name goes whole into the data, made safe in the topic;
// movement holds until more than 5 s after the last one.
TEST(EventHandlers, ZoneProfileEnabledAndMovement)
{
    CamsimEvents events;
    LogCapture log;
    ZoneProfileEventHandler handler(4, "a/b(c)", false);
    handler.start();
    json declared = events.declared();
    ASSERT_EQ(declared.size(), 2u);
    EXPECT_EQ(declared[0]["topic"], "tnszeto:Plinth/tnszeto:Quillon/tnszeto:ProfileUpdated_4");
    EXPECT_NE(
        declared[0]["declaration"].get<std::string>().find(
            "{'topic2': 'Quillon: Profile \"a_b_c_\" updated', 'enabled': 'Profile enabled'}"),
        std::string::npos);
    EXPECT_EQ(declared[1]["topic"], "tnszeto:Plinth/tnszeto:Quillon/tnszeto:ProfileMovement_4");

    EventSubscriber subscriber("tnszeto:Plinth/tnszeto:Quillon/tnszeto:ProfileUpdated_4");
    int64_t t0 = g_get_monotonic_time();
    handler.setEnabled(true, t0);
    ASSERT_TRUE(subscriber.waitForCount(1));
    EXPECT_EQ(subscriber.values()[0],
              "{'topic0': <'Plinth'>, 'topic1': <'Quillon'>, 'topic2': <'ProfileUpdated_4'>, "
              "'enabled': <true>, 'profileId': <4>, 'name': <'a/b(c)'>, 'channel': <1>}");

    const int64_t s = 1000000;
    struct Pass {
        int64_t at;
        bool seen;
        bool moving;
    };
    const Pass passes[] = {
        {t0, true, true},              // detected
        {t0 + 1 * s, true, true},      // the latest movement moves on
        {t0 + 6 * s, false, true},     // exactly 5 s after it
        {t0 + 6 * s + 1, false, false} // beyond: stop
    };
    for (auto& p : passes) {
        handler.clearMovement();
        if (p.seen)
            handler.markMovement();
        handler.evaluate(p.at);
        EXPECT_EQ(handler.moving(), p.moving) << p.at - t0;
    }
    ASSERT_TRUE(waitFor([&] { return events.sent().size() == 3; }));
    json sent = events.sent();
    EXPECT_EQ(sent[1]["data"], json({{"movement", true}, {"profileId", 4}, {"name", "a/b(c)"}}));
    EXPECT_EQ(sent[2]["data"]["movement"], false);
    std::string logged = log.text();
    EXPECT_NE(logged.find("Update zone 4 movement detected 1\n"), std::string::npos);
    EXPECT_NE(logged.find("Update zone 4 movement stop 0\n"), std::string::npos);
    handler.stop();
    EXPECT_TRUE(waitFor([&] { return events.declared().empty(); }));
}

// Frames go out with their time; stopping sends an empty frame stamped 0,
// then undeclares.
TEST(EventHandlers, StreamObjectsFramesAndStop)
{
    CamsimEvents events;
    StreamObjectsEvent stream;
    stream.start();
    ASSERT_GE(stream.declarationId(), 0);
    std::string frame(4096, 'x');
    stream.send(frame, g_get_monotonic_time());
    stream.stop();
    ASSERT_TRUE(waitFor([&] { return events.sent().size() == 2; })) << events.sent().dump();
    json sent = events.sent();
    EXPECT_EQ(eventTopic(sent[0]), "tnszeto:Plinth/tnszeto:Quillon/tnszeto:streamObjects");
    EXPECT_EQ(sent[0]["data"]["jsonframe"], frame);
    EXPECT_EQ(sent[1]["data"]["jsonframe"], "");
    EXPECT_EQ(sent[1]["timestamp"], 0);
    EXPECT_TRUE(waitFor([&] { return events.declared().empty(); }));
}
