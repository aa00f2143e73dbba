// The handlers of received control events, from NotifyEvent parameters as
// the event consumer sends them, with recorders in place of the daemon's
// actions.
#include <glib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "events_fixture.h"
#include "quillon/events/listener/event_values.h"
#include "quillon/events/listener/notify_event.h"

using namespace quillon;

namespace
{

// NotifyEvent's parameters: topic levels Plinth/Quillon/<leaf> (no "topic2"
// when leaf is empty) and the values of `data`, an a{sv} in GVariant text.
GVariant* notifyParameters(const std::string& leaf, const std::string& data)
{
    GVariantBuilder values;
    g_variant_builder_init(&values, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&values, "{sv}", "topic0", g_variant_new_string("Plinth"));
    g_variant_builder_add(&values, "{sv}", "topic1", g_variant_new_string("Quillon"));
    if (!leaf.empty())
        g_variant_builder_add(&values, "{sv}", "topic2", g_variant_new_string(leaf.c_str()));
    GError* error = nullptr;
    GVariant* parsed =
        g_variant_parse(G_VARIANT_TYPE_VARDICT, data.c_str(), nullptr, nullptr, &error);
    EXPECT_NE(parsed, nullptr) << data << ": " << (error ? error->message : "");
    g_clear_error(&error);
    if (parsed != nullptr) {
        GVariantIter iter;
        g_variant_iter_init(&iter, parsed);
        const gchar* key = nullptr;
        GVariant* value = nullptr;
        while (g_variant_iter_next(&iter, "{&sv}", &key, &value)) {
            g_variant_builder_add(&values, "{sv}", key, value);
            g_variant_unref(value);
        }
        g_variant_unref(parsed);
    }
    auto empty = [](const char* entry) {
        return g_variant_new_array(G_VARIANT_TYPE(entry), nullptr, 0);
    };
    return g_variant_new("(x@a{ss}@a{sv}@a{ss}@a{ss}@a{ss}@a{sv}s)", gint64(1700000000000000),
                         empty("{ss}"), g_variant_builder_end(&values), empty("{ss}"),
                         empty("{ss}"), empty("{ss}"), empty("{sv}"), "");
}

// What the actions were asked to do, as text.
struct Recorder {
    std::vector<std::string> calls;
    EventActions actions()
    {
        auto n = [](int v) { return std::to_string(v); };
        return {[this, n](bool on) { calls.push_back("triggers " + n(on)); },
                [this, n](int id, bool on) {
                    calls.push_back("profile " + n(id) + " " + n(on));
                    return 1;
                },
                [this, n](const temp_trigger_settings_t& z) {
                    calls.push_back("zone fullscreen=" + n(z.fullscreen) +
                                    " timeout=" + n(z.timeout) + " preset=" + n(z.gotoPreset) +
                                    " home=" + n(z.gotoHomeAfter) + " pre=" + n(z.preTriggerTime));
                }};
    }
};

struct Case {
    const char* name;
    const char* leaf;
    const char* data;
    const char* call; // "" for none
    const char* log;  // a line expected in the log, "" for none
};

} // namespace

TEST(NotifyEvent, HandlersTurnEventsIntoActions)
{
    const Case cases[] = {
        {"triggers on", "SetAutoTriggers", "{'setAutoTriggers': <'1'>}", "triggers 1", ""},
        {"triggers off", "SetAutoTriggers", "{'setAutoTriggers': <'0'>}", "triggers 0", ""},
        {"triggers any non-zero", "SetAutoTriggers", "{'setAutoTriggers': <' -7'>}", "triggers 1",
         ""},
        {"triggers missing", "SetAutoTriggers", "{}", "", "setAutoTriggers tag missing\n"},
        {"triggers of another type count as missing", "SetAutoTriggers", "{'setAutoTriggers': <1>}",
         "", "setAutoTriggers tag missing\n"},
        {"triggers not a number", "SetAutoTriggers", "{'setAutoTriggers': <'yes'>}", "",
         "Event value setAutoTriggers 'yes' is not an integer, event dropped\n"},
        {"triggers trailing text", "SetAutoTriggers", "{'setAutoTriggers': <'1x'>}", "",
         "is not an integer"},
        {"triggers beyond int", "SetAutoTriggers", "{'setAutoTriggers': <'99999999999'>}", "",
         "is not an integer"},
        {"profile", "SetProfile", "{'profileId': <'3'>, 'setActive': <'0'>}", "profile 3 0", ""},
        {"profile id as int", "SetProfile", "{'profileId': <4>, 'setActive': <'1'>}", "profile 4 1",
         ""},
        {"profile id as bool", "SetProfile", "{'profileId': <true>, 'setActive': <'1'>}",
         "profile 1 1", ""},
        {"profile id unreadable", "SetProfile", "{'profileId': <'-2'>, 'setActive': <'1'>}",
         "profile -1 1", ""},
        {"profile id beyond int", "SetProfile", "{'profileId': <'4294967297'>, 'setActive': <'1'>}",
         "profile -1 1", ""},
        {"profile id of a double", "SetProfile", "{'profileId': <2.0>, 'setActive': <'1'>}",
         "profile -1 1", ""},
        {"profile without id", "SetProfile", "{'setActive': <'1'>}", "", ""},
        {"profile without setActive", "SetProfile", "{'profileId': <'3'>}", "",
         "setActive not found\n"},
        {"profile setActive not a number", "SetProfile",
         "{'profileId': <'3'>, 'setActive': <'on'>}", "", "Event value setActive 'on'"},
        {"zone with everything", "SetTemporaryZone",
         "{'setTemporaryZone': <'fullscreen'>, 'timeout': <'30'>, 'preTrackingAction': "
         "<'gotoPreset=3'>, 'postTrackingAction': <'gotoHome'>}",
         "zone fullscreen=1 timeout=30 preset=3 home=1 pre=500", ""},
        {"zone of stored zones", "SetTemporaryZone",
         "{'setTemporaryZone': <'zones'>, 'timeout': <12>}",
         "zone fullscreen=0 timeout=12 preset=-1 home=0 pre=500", ""},
        {"zone without timeout", "SetTemporaryZone", "{'setTemporaryZone': <'fullscreen'>}",
         "zone fullscreen=1 timeout=-1 preset=-1 home=0 pre=500", ""},
        {"zone negative timeout", "SetTemporaryZone",
         "{'setTemporaryZone': <'fullscreen'>, 'timeout': <'-5'>}",
         "zone fullscreen=1 timeout=-1 preset=-1 home=0 pre=500", ""},
        {"zone timeout beyond int", "SetTemporaryZone",
         "{'setTemporaryZone': <'fullscreen'>, 'timeout': <'2147483648'>}",
         "zone fullscreen=1 timeout=-1 preset=-1 home=0 pre=500", ""},
        {"zone timeout at the int limit", "SetTemporaryZone",
         "{'setTemporaryZone': <'fullscreen'>, 'timeout': <'2147483647'>}",
         "zone fullscreen=1 timeout=2147483647 preset=-1 home=0 pre=500", ""},
        {"zone preset letter", "SetTemporaryZone",
         "{'setTemporaryZone': <'fullscreen'>, 'preTrackingAction': <'gotoPreset=x'>}",
         "zone fullscreen=1 timeout=-1 preset=-1 home=0 pre=500",
         "handleSetTemporaryZone preTracking numberStr invalid: 'x'\n"},
        {"zone preset beyond int", "SetTemporaryZone",
         "{'setTemporaryZone': <'fullscreen'>, 'preTrackingAction': <'gotoPreset=9999999999'>}",
         "zone fullscreen=1 timeout=-1 preset=-1 home=0 pre=500",
         "numberStr invalid: '9999999999'\n"},
        {"zone preset without number", "SetTemporaryZone",
         "{'setTemporaryZone': <'fullscreen'>, 'preTrackingAction': <'gotoPreset='>}",
         "zone fullscreen=1 timeout=-1 preset=-1 home=0 pre=500", ""},
        {"zone home prefix only", "SetTemporaryZone",
         "{'setTemporaryZone': <'fullscreen'>, 'postTrackingAction': <'gotoHom'>}",
         "zone fullscreen=1 timeout=-1 preset=-1 home=0 pre=500", ""},
        {"zone home with more", "SetTemporaryZone",
         "{'setTemporaryZone': <'fullscreen'>, 'postTrackingAction': <'gotoHomeNow'>}",
         "zone fullscreen=1 timeout=-1 preset=-1 home=1 pre=500", ""},
        {"zone missing", "SetTemporaryZone", "{'timeout': <'30'>}", "",
         "Temporary zone setTemporaryZone not found\n"},
        {"another event", "SetSomethingElse", "{'setAutoTriggers': <'1'>}", "", ""},
        {"no third level", "", "{'setAutoTriggers': <'1'>}", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder recorder;
        eventstest::LogCapture log;
        GVariant* parameters = g_variant_ref_sink(notifyParameters(c.leaf, c.data));
        handleNotifyEvent(parameters, recorder.actions());
        g_variant_unref(parameters);
        std::string lines = log.text();
        EXPECT_EQ(recorder.calls.size(), *c.call ? 1u : 0u);
        if (*c.call && !recorder.calls.empty()) {
            EXPECT_EQ(recorder.calls[0], c.call);
        }
        if (*c.log)
            EXPECT_NE(lines.find(c.log), std::string::npos) << lines;
        else
            EXPECT_EQ(lines, "");
    }
}

// Parameters of another form are logged and dropped.
TEST(NotifyEvent, ParametersOfAnotherFormAreDropped)
{
    const char* forms[] = {"(int64 1,)", "(int64 1, @a{ss} {}, @a{ss} {})", "@a{sv} {}",
                           "('x', 1, 2, 3)"};
    for (const char* form : forms) {
        SCOPED_TRACE(form);
        Recorder recorder;
        eventstest::LogCapture log;
        GVariant* parameters = g_variant_parse(nullptr, form, nullptr, nullptr, nullptr);
        ASSERT_NE(parameters, nullptr);
        handleNotifyEvent(parameters, recorder.actions());
        g_variant_unref(parameters);
        EXPECT_TRUE(recorder.calls.empty());
        EXPECT_NE(log.text().find("NotifyEvent"), std::string::npos);
    }
    handleNotifyEvent(nullptr, Recorder().actions());
}

TEST(NotifyEvent, DecimalTextsAsTheSwitchesReadThem)
{
    EXPECT_EQ(decimalValue("0"), 0);
    EXPECT_EQ(decimalValue("+12"), 12);
    EXPECT_EQ(decimalValue("  -2147483648"), INT32_MIN);
    EXPECT_EQ(decimalValue("2147483647"), INT32_MAX);
    EXPECT_EQ(decimalValue("2147483648"), std::nullopt);
    EXPECT_EQ(decimalValue("-2147483649"), std::nullopt);
    EXPECT_EQ(decimalValue("123456789012345678901234567890"), std::nullopt);
    for (const char* bad : {"", " ", "-", "1 ", "0x10", "1e3", "١"})
        EXPECT_EQ(decimalValue(bad), std::nullopt) << bad;
}
