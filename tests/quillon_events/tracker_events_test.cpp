#include <gtest/gtest.h>

#include "events_fixture.h"
#include "quillon/config/settings/runtime_commands.h"
#include "quillon/tracking/tracker/tracker.h"

using namespace quillon;
using namespace eventstest;
using testsupport::waitFor;

namespace
{

template <typename T> std::shared_ptr<Message> message(T value)
{
    return std::make_shared<TrackerSettingsMessage<T>>(value);
}

bool declares(const json& declared, const std::string& topic)
{
    for (auto& d : declared)
        if (d["topic"] == topic)
            return true;
    return false;
}

const std::string kTriggers = "tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutoTriggers";
const std::string kState = "tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutotrackingState";

} // namespace

// The tracker's life as the event system sees it: both events declared and
// auto-triggers on while it lives, the state event switched by its setting,
// auto-triggers off and nothing declared after shutdown.
TEST(TrackerEvents, AnnouncesAutoTriggersAndState)
{
    CamsimEvents events;
    auto tracker = std::make_shared<Tracker>(true);
    json declared = events.declared();
    ASSERT_EQ(declared.size(), 2u);
    EXPECT_TRUE(declares(declared, kTriggers));
    EXPECT_TRUE(declares(declared, kState));
    // Debug mode: the AutoTriggers declaration is not leading.
    for (auto& d : declared)
        EXPECT_EQ(d["declaration"].get<std::string>().substr(0, 6), "(false");
    ASSERT_TRUE(waitFor([&] { return events.sent().size() == 1; }));
    EXPECT_EQ(events.sent()[0]["data"], json({{"autoTriggersEnabled", true}, {"channel", 1}}));

    tracker->handleMessage(message(tracking_event_state_t{false}));
    EXPECT_TRUE(waitFor([&] { return !declares(events.declared(), kState); }));
    tracker->reportTracking(true); // not published while off
    tracker->handleMessage(message(tracking_event_state_t{true}));
    EXPECT_TRUE(waitFor([&] { return declares(events.declared(), kState); }));
    // Autotracking off also stops tracking, which reports tracking off.
    tracker->handleMessage(message(auto_tracking_state_t{false}));
    tracker->handleMessage(message(auto_tracking_state_t{false}));
    ASSERT_TRUE(waitFor([&] { return events.sent().size() == 3; }));
    EXPECT_EQ(events.sent()[1]["data"]["autoTriggersEnabled"], false);
    EXPECT_EQ(events.sent()[2]["data"], json({{"stateInfo", false}, {"channel", 1}}));
    tracker->handleMessage(message(auto_tracking_state_t{true}));
    tracker->reportTracking(false); // no change, not sent
    ASSERT_TRUE(waitFor([&] { return events.sent().size() == 4; }));
    EXPECT_EQ(events.sent()[3]["data"]["autoTriggersEnabled"], true);

    tracker->prepareToShutdown();
    tracker.reset();
    EXPECT_TRUE(waitFor([&] { return events.declared().empty(); }));
    json sent = events.sent();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[4]["data"]["autoTriggersEnabled"], false);
}
