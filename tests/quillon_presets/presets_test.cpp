#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "events_fixture.h"
#include "quillon/motion/presets/ptz_presets.h"

using namespace quillon;
using namespace eventstest;
using testsupport::waitFor;

namespace
{

// PTZ started on camsim's bus; stopped at the end of the test.
struct PtzOnCamsim {
    explicit PtzOnCamsim(std::vector<std::string> args = {}, bool camsimNow = true)
        : events(std::move(args), camsimNow)
    {
    }
    ~PtzOnCamsim() { PTZ::stop(); }

    void start(int discoveries = 1)
    {
        ASSERT_TRUE(PTZ::start());
        ASSERT_TRUE(waitFor([&] { return PTZ::discoveries() >= discoveries; }));
    }
    json control(const json& request) { return events.camsim.control(request); }
    void emit(const std::string& signal, const std::string& args)
    {
        control({{"cmd", "ptz2-emit"}, {"signal", signal}, {"args", args}});
    }

    CamsimEvents events;
};

std::string presetsText(const std::shared_ptr<PTZ::PTZ_PresetHandler>& handler)
{
    std::string out;
    for (auto& p : handler->presets())
        out += std::to_string(p.number) + "=" + p.name + ";";
    return out;
}

bool waitForPresets(const std::shared_ptr<PTZ::PTZ_PresetHandler>& handler,
                    const std::string& expected)
{
    return waitFor([&] { return presetsText(handler) == expected; });
}

} // namespace

// Every channel gets a handler and a socket; only channel 1 has presets.
TEST(Presets, TwoChannelsDiscovered)
{
    PtzOnCamsim ptz({"--channels", "2"});
    ptz.control({{"cmd", "preset-add"}, {"number", 2}, {"name", "gate"}});
    LogCapture log;
    ptz.start();
    EXPECT_FALSE(PTZ::start()); // already runs

    auto one = PTZ::presetHandler(1);
    auto two = PTZ::presetHandler(2);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(presetsText(one), "2=gate;");
    EXPECT_EQ(presetsText(two), "");
    EXPECT_EQ(one->ptzReady(), 1u);
    EXPECT_EQ(two->ptzReady(), 0u);
    ASSERT_TRUE(PTZ::socket(1) && PTZ::socket(2));
    EXPECT_EQ(PTZ::socket(2)->channel(), 2);
    EXPECT_EQ(PTZ::socket(2)->proxy().objectPath(), "/com/zeto/PTZ2/Channel/2");
    EXPECT_EQ(PTZ::presetHandler(3), nullptr);
    EXPECT_EQ(PTZ::socket(3), nullptr);

    std::string logged = log.text();
    EXPECT_NE(logged.find("Ignore camera 2, no PTZ\n"), std::string::npos) << logged;
    EXPECT_NE(logged.find("PTZ is already initialized\n"), std::string::npos);
    EXPECT_NE(logged.find("No preset handler was found for channel 3 (2 preset handlers exist "
                          "for other channels)\n"),
              std::string::npos);
}

// The list follows the service's signals; a duplicate add and ill-typed
// signals change nothing.
TEST(Presets, ListFollowsSignals)
{
    PtzOnCamsim ptz;
    ptz.start();
    auto handler = PTZ::presetHandler(1);
    ASSERT_TRUE(handler);
    LogCapture log;

    ptz.control({{"cmd", "preset-add"}, {"number", 3}, {"name", "door"}});
    ASSERT_TRUE(waitForPresets(handler, "3=door;"));
    ptz.control({{"cmd", "preset-add"}, {"number", 4}, {"name", "yard"}});
    ptz.control({{"cmd", "preset-add"}, {"number", 3}, {"name", "porch"}}); // rename
    ASSERT_TRUE(waitForPresets(handler, "3=porch;4=yard;"));
    ptz.control({{"cmd", "preset-remove"}, {"number", 4}});
    ASSERT_TRUE(waitForPresets(handler, "3=porch;"));

    ptz.emit("PresetAdded", "(uint32 3, 'again')");
    ptz.emit("PresetAdded", "('x', uint32 5)");
    ptz.emit("PresetRemoved", "(uint32 3,)");
    ptz.emit("PropertiesChanged", "('com.zeto.PTZ2.Preset1', {'PtzReady': <'no'>, "
                                  "'PresetStatus': <(uint32 2,)>}, @as [])");
    ptz.emit("PropertiesChanged", "('com.zeto.PTZ2.Preset1', 7)");
    ptz.emit("PresetAdded", "(uint32 9, 'marker')"); // after the others
    ASSERT_TRUE(waitForPresets(handler, "3=porch;9=marker;"));
    EXPECT_EQ(handler->ptzReady(), 1u);
    EXPECT_EQ(handler->presetStatus().state, 0u);

    ptz.control({{"cmd", "ptz-ready"}, {"value", 0}});
    EXPECT_TRUE(waitFor([&] { return handler->ptzReady() == 0; }));

    std::string logged = log.text();
    for (const char* line :
         {" Preset add nbr=3, name=door\n", " Preset change nbr=3, name=porch\n",
          " Preset remove nbr=4, name=yard\n", " Preset add nbr=3, name=again\n",
          "Warning: PresetAdded arguments ('x', uint32 5) of unknown type\n",
          "Warning: PresetRemoved arguments (uint32 3,) of unknown type\n",
          "Warning: PtzReady 'no' of unknown type\n",
          "Warning: PresetStatus (uint32 2,) of unknown type\n",
          "Warning: PropertiesChanged arguments ('com.zeto.PTZ2.Preset1', 7) of unknown type\n"})
        EXPECT_NE(logged.find(line), std::string::npos) << line << logged;
}

// A known preset is visited (state 2 on the way, 1 there); an unknown one is
// refused without a call.
TEST(Presets, GotoPreset)
{
    PtzOnCamsim ptz;
    ptz.control({{"cmd", "preset-add"}, {"number", 1}, {"name", "home"}, {"pan", 40}});
    ptz.start();
    auto handler = PTZ::presetHandler(1);
    ASSERT_TRUE(handler);
    LogCapture log;
    EXPECT_FALSE(handler->gotoPreset(7));
    EXPECT_EQ(handler->presetStatus().state, 0u);
    std::string logged = log.text();
    EXPECT_NE(logged.find("Cannot move camera number 1 to preset 7 becuase the preset number does "
                          "not exist\n"),
              std::string::npos);

    ASSERT_TRUE(handler->gotoPreset(1));
    EXPECT_TRUE(waitFor([&] { return handler->isState2(); }));
    EXPECT_TRUE(waitFor([&] {
        auto s = handler->presetStatus();
        return s.state == 1 && s.preset == 1;
    }));
}

// Objects that are no proper channels are skipped, ill-typed properties
// ignored; the channel comes from the object's own path.
TEST(Presets, OddObjectsSkipped)
{
    PtzOnCamsim ptz;
    ptz.control({{"cmd", "ptz2-fault"}, {"mode", "odd-objects"}});
    LogCapture log;
    ptz.start();
    auto handlers = PTZ::presetHandlers();
    std::vector<int> channels;
    for (auto& h : handlers)
        channels.push_back(h->channel());
    std::sort(channels.begin(), channels.end());
    EXPECT_EQ(channels, (std::vector<int>{1, 7}));
    auto seven = PTZ::presetHandler(7);
    ASSERT_TRUE(seven);
    EXPECT_EQ(seven->ptzReady(), 0u);
    EXPECT_EQ(seven->presetStatus().state, 0u);
    std::string logged = log.text();
    for (const char* line :
         {"Warning: channel entry objectpath '/com/zeto/PTZ2/Channel/x' has no channel number\n",
          "Warning: channel number 99999999999 out of range\n",
          "Warning: PtzReady 'yes' of unknown type\n",
          "Warning: PresetStatus uint32 2 of unknown type\n"})
        EXPECT_NE(logged.find(line), std::string::npos) << line << logged;
}

TEST(Presets, RefusedPresetListLeavesItEmpty)
{
    PtzOnCamsim ptz;
    ptz.control({{"cmd", "preset-add"}, {"number", 2}, {"name", "gate"}});
    ptz.control({{"cmd", "ptz2-fault"}, {"mode", "nopresets"}});
    LogCapture log;
    ptz.start();
    ASSERT_TRUE(PTZ::presetHandler(1));
    EXPECT_EQ(presetsText(PTZ::presetHandler(1)), "");
    std::string logged = log.text();
    EXPECT_NE(logged.find(" PTZ2.Preset1.GetPresets() returned NULL\n"), std::string::npos);
}

// A service that starts late is discovered then; after a restart the
// handlers stay (callers hold them), their presets are read again and
// signals of the new service arrive.
TEST(Presets, LateAndRestartedService)
{
    PtzOnCamsim ptz({}, false);
    ASSERT_TRUE(PTZ::start());
    EXPECT_EQ(PTZ::socket(1), nullptr);
    ptz.events.camsim.start();
    ASSERT_TRUE(waitFor([] { return PTZ::discoveries() == 1; }));
    auto handler = PTZ::presetHandler(1);
    auto socket = PTZ::socket(1);
    ASSERT_TRUE(handler && socket);
    ptz.control({{"cmd", "preset-add"}, {"number", 3}, {"name", "door"}});
    ASSERT_TRUE(waitForPresets(handler, "3=door;"));

    ptz.events.camsim.restart(); // the new camsim has no presets
    ASSERT_TRUE(waitFor([] { return PTZ::discoveries() == 2; }));
    EXPECT_EQ(PTZ::presetHandler(1), handler);
    EXPECT_EQ(PTZ::socket(1), socket);
    EXPECT_EQ(PTZ::presetHandlers().size(), 1u);
    EXPECT_EQ(presetsText(handler), "");
    ptz.control({{"cmd", "preset-add"}, {"number", 5}, {"name", "yard"}});
    EXPECT_TRUE(waitForPresets(handler, "5=yard;"));
}

// Lookups from other threads while the component starts, discovers and
// stops; a held handler outlives stop().
TEST(Presets, LookupsRaceStartAndStop)
{
    PtzOnCamsim ptz({"--channels", "3"});
    std::atomic<bool> done{false};
    std::atomic<int> found{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 2; ++i)
        readers.emplace_back([&] {
            while (!done) {
                if (auto s = PTZ::socket(1 + found % 3))
                    found += s->channel() > 0;
                for (auto& h : PTZ::presetHandlers())
                    (void)h->presets();
            }
        });
    std::shared_ptr<PTZ::PTZ_PresetHandler> held;
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(PTZ::start());
        if (round % 2 == 0) {
            ASSERT_TRUE(waitFor([] { return PTZ::presetHandlers().size() == 3; }));
        }
        if (auto h = PTZ::presetHandlers(); !h.empty())
            held = h.front();
        PTZ::stop();
        EXPECT_TRUE(PTZ::presetHandlers().empty());
    }
    done = true;
    for (auto& t : readers)
        t.join();
    EXPECT_GT(found, 0);
    ASSERT_TRUE(held);
    EXPECT_GE(held->channel(), 1);
    EXPECT_EQ(PTZ::socket(1), nullptr);
}
