// The visual confirmation handler against camsim's event producer: one
// streamObjects per analysed scene with the scene's time, the debug view
// from the service's flag, the empty frame at stop.
#include <glib.h>

#include <gtest/gtest.h>

#include "events_fixture.h"
#include "quillon/events/confirmation/visual_confirmation_handler.h"
#include "quillon/tracking/tracker/analyzed_video_message.h"

using namespace quillon;
using namespace eventstest;
using testsupport::waitFor;

namespace
{

const std::string kTopic = "tnszeto:Plinth/tnszeto:Quillon/tnszeto:streamObjects";

std::shared_ptr<Message> sceneAt(std::int64_t timeUs)
{
    auto m = std::make_shared<AnalyzedVideoMessage>();
    m->sceneTimeUs = timeUs;
    m->trackerEnabled = true;
    auto o = std::make_shared<TrackingObject>();
    o->id = 5;
    o->source = kSourceDetection;
    o->flags = kFlagReported;
    o->confident = true;
    o->typeName = "person";
    o->shape = Polygon::box(-0.5f, 0.5f, -0.5f, 0.5f);
    m->objects.push_back(o);
    return m;
}

std::vector<json> frames(const CamsimEvents& events)
{
    std::vector<json> out;
    for (const auto& s : events.sent())
        if (s.value("topic", "") == kTopic)
            out.push_back(s);
    return out;
}

} // namespace

TEST(VisualConfirmation, OneEventPerSceneWithItsTime)
{
    CamsimEvents events;
    auto handler = std::make_shared<VisualConfirmationHandler>(false);
    EXPECT_FALSE(handler->debugView());
    ASSERT_EQ(events.declared().size(), 1u);
    EXPECT_EQ(events.declared()[0]["topic"], kTopic);

    const std::int64_t now = g_get_monotonic_time();
    const std::int64_t offset = g_get_real_time() - now;
    const std::int64_t times[] = {now - 300000, now - 200000, now - 200000};
    for (auto t : times)
        handler->handleMessage(sceneAt(t));
    ASSERT_TRUE(waitFor([&] { return frames(events).size() == 3; }));
    handler->handleMessage(
        std::make_shared<TrackerSettingsMessage<debug_mode_t>>(debug_mode_t{true}));
    handler->handleMessage(sceneAt(now));
    ASSERT_TRUE(waitFor([&] { return frames(events).size() == 4; }));
    auto sent = frames(events);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(sent[i]["timestamp"].get<double>(), double(times[i] + offset), 20000.0);
        EXPECT_EQ(sent[i]["data"]["jsonframe"],
                  R"({"objects":[{"id":5,"x":0.25,"y":0.25,"width":0.5,"height":0.5}],)"
                  R"("trackerEnabled":true,"zoomMag":1.0})");
    }
    EXPECT_EQ(sent[3]["data"]["jsonframe"],
              R"({"objects":[{"id":5,"color":"#FFFF00","x":0.25,"y":0.25,"width":0.5,)"
              R"("height":0.5,"text":"person"}],"trackerEnabled":true,"zoomMag":1.0})");

    handler->prepareToShutdown();
    ASSERT_TRUE(waitFor([&] { return frames(events).size() == 5; }));
    EXPECT_EQ(frames(events)[4]["data"]["jsonframe"], "");
    EXPECT_EQ(frames(events)[4]["timestamp"], 0);
    EXPECT_TRUE(waitFor([&] { return events.declared().empty(); }));
    handler.reset();
    EXPECT_EQ(frames(events).size(), 5u);
}
