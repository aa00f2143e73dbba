// Event matching and the notification form built from a declaration.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camsim/core/event_hub.h"

using namespace camsim;

namespace
{

GVariant* stringDict(std::initializer_list<std::pair<const char*, const char*>> entries)
{
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{ss}"));
    for (auto& [k, v] : entries)
        g_variant_builder_add(&b, "{ss}", k, v);
    return g_variant_builder_end(&b);
}

GVariant* topicNames(std::initializer_list<const char*> levels)
{
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    int i = 0;
    for (auto* l : levels)
        g_variant_builder_add(&b, "{sv}", ("topic" + std::to_string(i++)).c_str(),
                              g_variant_new_string(l));
    return g_variant_builder_end(&b);
}

GVariant* emptySv()
{
    return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
}

GVariant* declaration(std::initializer_list<const char*> levels)
{
    return g_variant_new(
        "(b@a{ss}@a{sv}@a{ss}@a{ss}@a{ss}@a{sv}s)", FALSE,
        stringDict({{"topic0", "VALUE_TYPE_STRING"}, {"stateInfo", "VALUE_TYPE_BOOL"}}),
        topicNames(levels), stringDict({{"topic2", "Is tracking"}}),
        stringDict({{"topic2", "Is tracking"}}),
        stringDict({{"topic0", "tnszeto"}, {"topic1", "tnszeto"}, {"topic2", "tnszeto"}}),
        emptySv(), "stateInfo");
}

GVariant* filter(std::initializer_list<const char*> levels, const char* ns = "tnszeto")
{
    return g_variant_new("(@a{ss}@a{sv}@a{ss}@a{sv})", stringDict({}), topicNames(levels),
                         stringDict({{"topic0", ns}}), emptySv());
}

struct Delivery {
    std::string subscriber;
    int subscription;
    std::string printed;
    GVariant* notification;
};

class EventHubTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        hub.setSink([this](const std::string& s, int id, GVariant* n) {
            g_variant_ref_sink(n);
            gchar* text = g_variant_print(n, FALSE);
            got.push_back({s, id, text, n});
            g_free(text);
        });
    }
    void TearDown() override
    {
        for (auto& d : got)
            g_variant_unref(d.notification);
    }
    EventHub hub;
    std::vector<Delivery> got;
};

} // namespace

TEST_F(EventHubTest, DeliversToMatchingSubscriptionsOnly)
{
    int decl = hub.declare(declaration({"Plinth", "Quillon", "AutotrackingState"}), ":1.5");
    ASSERT_GT(decl, 0);
    int match = hub.subscribe(filter({"Plinth", "Quillon", "AutotrackingState"}), ":1.7");
    hub.subscribe(filter({"Plinth", "Quillon", "AutoTriggers"}), ":1.8");
    hub.subscribe(filter({"Plinth", "Quillon"}), ":1.9");                                // shorter
    hub.subscribe(filter({"Plinth", "Quillon", "AutotrackingState"}, "other"), ":1.10"); // ns

    GVariantBuilder data;
    g_variant_builder_init(&data, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&data, "{sv}", "stateInfo", g_variant_new_boolean(TRUE));
    EXPECT_EQ(hub.send(decl, g_variant_builder_end(&data), 1234), 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].subscriber, ":1.7");
    EXPECT_EQ(got[0].subscription, match);

    GVariant* n = got[0].notification;
    ASSERT_TRUE(g_variant_is_of_type(n, G_VARIANT_TYPE("(xa{ss}a{sv}a{ss}a{ss}a{ss}a{sv}s)")));
    gint64 ts = 0;
    g_variant_get_child(n, 0, "x", &ts);
    EXPECT_EQ(ts, 1234);
    GVariant* values = g_variant_get_child_value(n, 2);
    const gchar* level2 = nullptr;
    gboolean state = FALSE;
    EXPECT_TRUE(g_variant_lookup(values, "topic2", "&s", &level2));
    EXPECT_STREQ(level2, "AutotrackingState");
    EXPECT_TRUE(g_variant_lookup(values, "stateInfo", "b", &state));
    EXPECT_TRUE(state);
    g_variant_unref(values);
    const gchar* prop = nullptr;
    g_variant_get_child(n, 7, "&s", &prop);
    EXPECT_STREQ(prop, "stateInfo");
    EXPECT_EQ(hub.sentJson().size(), 1u);
}

TEST_F(EventHubTest, SendTopicBuildsLevelsFromTheTopicString)
{
    hub.subscribe(filter({"Plinth", "Quillon", "SetAutoTriggers"}), ":1.3");
    GVariantBuilder data;
    g_variant_builder_init(&data, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&data, "{sv}", "setAutoTriggers", g_variant_new_string("1"));
    EXPECT_EQ(hub.sendTopic("tnszeto:Plinth//tnszeto:Quillon/tnszeto:SetAutoTriggers(nice)",
                            g_variant_builder_end(&data), 5),
              1);
    ASSERT_EQ(got.size(), 1u);
    GVariant* values = g_variant_get_child_value(got[0].notification, 2);
    const gchar* v = nullptr;
    EXPECT_TRUE(g_variant_lookup(values, "topic2", "&s", &v));
    EXPECT_STREQ(v, "SetAutoTriggers");
    EXPECT_TRUE(g_variant_lookup(values, "setAutoTriggers", "&s", &v));
    EXPECT_STREQ(v, "1");
    g_variant_unref(values);
    EXPECT_EQ(hub.sendTopic("tnszeto:Plinth/tnszeto:Quillon/tnszeto:SetProfile", emptySv(), 5), 0);
}

TEST_F(EventHubTest, RefusesEmptyTopicsAndUnknownIds)
{
    EXPECT_EQ(hub.declare(declaration({}), ":1.1"), -1);
    EXPECT_EQ(hub.subscribe(filter({}), ":1.1"), -1);
    EXPECT_EQ(hub.send(42, emptySv(), 0), -1);
    EXPECT_FALSE(hub.undeclare(42));
    EXPECT_FALSE(hub.unsubscribe(42));
}

TEST_F(EventHubTest, ClientsThatLeaveLoseTheirSubscriptionsAndDeclarations)
{
    int decl = hub.declare(declaration({"A", "B", "C"}), ":1.1");
    hub.subscribe(filter({"A", "B", "C"}), ":1.2");
    hub.dropOwner(":1.2");
    EXPECT_EQ(hub.send(decl, emptySv(), 0), 0);
    hub.dropOwner(":1.1");
    EXPECT_EQ(hub.send(decl, emptySv(), 0), -1);
    EXPECT_TRUE(hub.declaredJson().empty());
}
