#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quillon/events/producer/event_declaration.h"

using namespace quillon;

namespace
{

// The builder's result as g_variant_print text with types ("NULL" for none).
std::string printed(GVariant* v)
{
    if (v == nullptr)
        return "NULL";
    g_variant_ref_sink(v);
    gchar* text = g_variant_print(v, TRUE);
    std::string out(text);
    g_free(text);
    g_variant_unref(v);
    return out;
}

std::string levelsText(const std::vector<TopicLevel>& levels)
{
    std::string out;
    for (auto& l : levels) {
        out += std::to_string(l.index) + "|" + l.nameSpace + "|" + l.name + "|" + l.niceName + "|";
        for (auto& t : l.tags)
            out += "{" + t + "}";
        out += ";";
    }
    return out;
}

std::string keysText(const std::vector<EventKey>& keys)
{
    std::string out;
    for (auto& k : keys) {
        out += k.name + "|" + std::to_string(k.valueType) + "|" + k.description + "|" +
               (k.isPropertyState ? "ps" : "") + "|";
        for (auto& t : k.tags)
            out += "{" + t + "}";
        out += ";";
    }
    return out;
}

struct ParseCase {
    std::string input;
    std::string parsed;  // levels or keys as text
    std::string warning; // expected log line, "" for none
};

class LogCapture
{
public:
    LogCapture() { testing::internal::CaptureStderr(); }
    std::string text() { return testing::internal::GetCapturedStderr(); }
};

// Each input parses to the expected text and logs the expected warning
// (nothing when none is expected).
template <typename Parse> void checkParse(const std::vector<ParseCase>& cases, Parse parse)
{
    for (auto& c : cases) {
        LogCapture log;
        std::string parsed = parse(c.input);
        std::string logged = log.text();
        EXPECT_EQ(parsed, c.parsed) << c.input;
        if (c.warning.empty())
            EXPECT_EQ(logged, "") << c.input;
        else
            EXPECT_NE(logged.find(c.warning), std::string::npos) << c.input << ": " << logged;
    }
}

} // namespace

TEST(EventDeclaration, TopicLevels)
{
    const std::vector<ParseCase> cases = {
        {"tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutotrackingState(Quillon: Is tracking)",
         "0|tnszeto|Plinth||;1|tnszeto|Quillon||;2|tnszeto|AutotrackingState|Quillon: Is "
         "tracking|;",
         ""},
        // Empty levels are dropped, the index counts accepted levels only.
        {"a//b/", "0||a||;1||b||;", ""},
        {"ns:name{t1}(nice){t2}", "0|ns|name|nice|{t1}{t2};", ""},
        {"ns:name(nice", "0|ns|name||;", ""},
        // A "(" or "{" before the first ":" ends the name before it starts
        // (the first ":" is the namespace's, also inside a nice name).
        {"Name(a: b)", "",
         " Problem parsing 'Name(a: b)' to topic:0: ns:Name(a topic-name: (a: b)\n"},
        {"x/a(b:c)/y", "0||x||;1||y||;",
         " Problem parsing 'a(b:c)' to topic:1: ns:a(b topic-name: (b:c)\n"},
        {"a{b:c}/y", "0||y||;", " Problem parsing 'a{b:c}' to topic:0: ns:a{b topic-name: ()\n"},
        {"ns:na{me", "", " Problem parsing 'ns:na{me' to topic:0: ns:ns topic-name:na{me ()\n"},
        {"ns:na]me(n)/ok", "0||ok||;",
         " Problem parsing 'ns:na]me(n)' to topic:0: ns:ns topic-name:na]me (n)\n"},
        {"", "", " Problem parsing '' (empty topic)\n"},
    };
    checkParse(cases, [](const std::string& input) { return levelsText(parseTopic(input)); });
}

TEST(EventDeclaration, Keys)
{
    const std::vector<ParseCase> cases = {
        {"stateInfo[b]{property-state}{onvif-data},channel[i]{onvif-source}",
         "stateInfo|0||ps|{onvif-data};channel|1|||{onvif-source};", ""},
        {"enabled[b](Profile enabled){property-state},name[s]",
         "enabled|0|Profile enabled|ps|;name|3|||;", ""},
        // There is no letter for double.
        {"level[d]", "level|3|||;", ""},
        {"plain", "plain|3|||;", ""},
        {"a,,b", "a|3|||;b|3|||;", ""},
        {"two[bi]", "two|3|||;", " Weird dt:two[bi] (3-6)\n"},
        {"none[]", "none|3|||;", " Weird dt:none[] (4-5)\n"},
        // A tag needs the type letter before it: the name would hold "{".
        {"tagged{t},ok[i]", "ok|1|||;",
         " Problem parsing 'tagged{t}' to declare event key:tagged{t} dt:3 ()\n"},
        {"", "", " Problem parsing '' (empty key)\n"},
    };
    checkParse(cases, [](const std::string& input) { return keysText(parseKeys(input)); });
}

// The declarations of quillon's events, exactly as the producer receives them.
TEST(EventDeclaration, Catalogue)
{
    const std::string roots = "{'topic0': 'VALUE_TYPE_STRING', 'topic1': 'VALUE_TYPE_STRING', "
                              "'topic2': 'VALUE_TYPE_STRING', ";
    const std::string names = "{'topic0': <'Plinth'>, 'topic1': <'Quillon'>, 'topic2': <'";
    const std::string ns = "{'topic0': 'tnszeto', 'topic1': 'tnszeto', 'topic2': 'tnszeto'}";
    struct Case {
        GVariant* built;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {generateEventDeclaration(
             "tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutotrackingState(Quillon: Is tracking)",
             "stateInfo[b]{property-state}{onvif-data},channel[i]{onvif-source}", false),
         "(false, " + roots + "'stateInfo': 'VALUE_TYPE_BOOL', 'channel': 'VALUE_TYPE_INT'}, " +
             names +
             "AutotrackingState'>}, {'topic2': 'Quillon: Is tracking'}, {'topic2': "
             "'Quillon: Is tracking'}, " +
             ns + ", {'stateInfo': <['onvif-data']>, 'channel': <['onvif-source']>}, 'stateInfo')"},
        {generateEventDeclaration(
             "tnszeto:Plinth/tnszeto:Quillon/tnszeto:AutoTriggers(Quillon: Autotracking triggers "
             "enabled)",
             "autoTriggersEnabled[b]{property-state}{onvif-data},channel[i]{onvif-source}", true),
         "(true, " + roots +
             "'autoTriggersEnabled': 'VALUE_TYPE_BOOL', 'channel': 'VALUE_TYPE_INT'}, " + names +
             "AutoTriggers'>}, {'topic2': 'Quillon: Autotracking triggers enabled'}, {'topic2': "
             "'Quillon: Autotracking triggers enabled'}, " +
             ns +
             ", {'autoTriggersEnabled': <['onvif-data']>, 'channel': <['onvif-source']>}, "
             "'autoTriggersEnabled')"},
        {generateEventDeclaration(
             "tnszeto:Plinth/tnszeto:Quillon/tnszeto:ProfileUpdated_4(Quillon: Profile \"Gate\" "
             "updated)",
             "enabled[b](Profile enabled){property-state}{onvif-data},channel[i],name[s]", true),
         "(true, " + roots +
             "'enabled': 'VALUE_TYPE_BOOL', 'channel': 'VALUE_TYPE_INT', 'name': "
             "'VALUE_TYPE_STRING'}, " +
             names +
             "ProfileUpdated_4'>}, {'topic2': 'Quillon: Profile \"Gate\" updated', 'enabled': "
             "'Profile enabled'}, {'topic2': 'Quillon: Profile \"Gate\" updated'}, " +
             ns + ", {'enabled': <['onvif-data']>}, 'enabled')"},
        {generateEventDeclaration(
             "tnszeto:Plinth/tnszeto:Quillon/tnszeto:ProfileMovement_4(Quillon: Detection in "
             "profile \"Gate\" )",
             "movement[b](Profile movement){property-state}{onvif-data},name[s]", false),
         "(false, " + roots + "'movement': 'VALUE_TYPE_BOOL', 'name': 'VALUE_TYPE_STRING'}, " +
             names +
             "ProfileMovement_4'>}, {'topic2': 'Quillon: Detection in profile \"Gate\" ', "
             "'movement': 'Profile movement'}, {'topic2': 'Quillon: Detection in profile \"Gate\" "
             "'}, " +
             ns + ", {'movement': <['onvif-data']>}, 'movement')"},
        {declareFlaggedEvent({"Plinth", "Quillon", "streamObjects"}, "jsonframe", 10,
                             VALUE_TYPE_STRING),
         "(false, " + roots + "'jsonframe': 'VALUE_TYPE_STRING'}, " + names +
             "streamObjects'>}, @a{ss} {}, @a{ss} {}, " + ns +
             ", {'jsonframe': <['onvif-data']>, 'topic2': <['isApplicationData']>}, '')"},
    };
    for (auto& c : cases)
        EXPECT_EQ(printed(c.built), c.expected);
}

// Level keys are decimal in declarations and subscriptions alike.
TEST(EventDeclaration, TwelveLevelsGetDecimalKeys)
{
    std::string topic;
    for (int i = 0; i < 12; ++i)
        topic += "n:L" + std::to_string(i) + "/";
    std::string declaration = printed(generateEventDeclaration(topic, "k[i]", false));
    std::string filter = printed(generateEventSubscription(topic, ""));
    for (const std::string* text : {&declaration, &filter}) {
        EXPECT_NE(text->find("'topic10': <'L10'>"), std::string::npos) << *text;
        EXPECT_NE(text->find("'topic11': <'L11'>"), std::string::npos) << *text;
        EXPECT_EQ(text->find("topic:"), std::string::npos) << *text;
    }
}

TEST(EventDeclaration, Subscription)
{
    EXPECT_EQ(printed(generateEventSubscription(
                  "tnszeto:Plinth/tnszeto:Quillon/tnszeto:SetAutoTriggers", "")),
              "({'topic0': 'VALUE_TYPE_STRING', 'topic1': 'VALUE_TYPE_STRING', 'topic2': "
              "'VALUE_TYPE_STRING'}, {'topic0': <'Plinth'>, 'topic1': <'Quillon'>, 'topic2': "
              "<'SetAutoTriggers'>}, {'topic0': 'tnszeto', 'topic1': 'tnszeto', 'topic2': "
              "'tnszeto'}, @a{sv} {})");
    EXPECT_EQ(printed(generateEventSubscription("Top", "k[b]{t}")),
              "({'topic0': 'VALUE_TYPE_STRING', 'k': 'VALUE_TYPE_BOOL'}, {'topic0': <'Top'>}, "
              "@a{ss} {}, {'k': <['t']>})");
}

TEST(EventDeclaration, NothingLeftIsNoArgument)
{
    LogCapture log;
    EXPECT_EQ(printed(generateEventDeclaration("a(b:c)", "k[b],j[i]", false)), "NULL");
    EXPECT_EQ(printed(generateEventDeclaration("ns:Top", "k{x}", false)), "NULL");
    EXPECT_EQ(printed(generateEventSubscription("//", "")), "NULL");
    std::string logged = log.text();
    EXPECT_NE(logged.find("generateEventDeclaration failed 0 2 \n"), std::string::npos) << logged;
    EXPECT_NE(logged.find("generateEventDeclaration failed 1 0 \n"), std::string::npos) << logged;
    EXPECT_NE(logged.find("generateEventSubscription failed 0 0 \n"), std::string::npos) << logged;
}

TEST(EventDeclaration, FlaggedEventFlags)
{
    struct Case {
        uint32_t flags;
        std::vector<std::string> levels;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {0,
         {"A"},
         "(false, {'topic0': 'VALUE_TYPE_STRING', 'k': 'VALUE_TYPE_INT'}, {'topic0': <'A'>}, "
         "@a{ss} {}, @a{ss} {}, {'topic0': 'tnszeto'}, @a{sv} {}, '')"},
        // Property state and leading; a nice name after the colon.
        {EVENT_FLAG_PROPERTY_STATE | EVENT_FLAG_LEADING,
         {"A:Nice one"},
         "(true, {'topic0': 'VALUE_TYPE_STRING', 'k': 'VALUE_TYPE_INT'}, {'topic0': <'A'>}, "
         "{'topic0': 'Nice one'}, {'topic0': 'Nice one'}, {'topic0': 'tnszeto'}, @a{sv} {}, "
         "'k')"},
        // Data wins over source; deprecated marks the third level. A level
        // that starts with ":" keeps its whole text as name.
        {EVENT_FLAG_ONVIF_DATA | EVENT_FLAG_ONVIF_SOURCE | EVENT_FLAG_DEPRECATED,
         {":x"},
         "(false, {'topic0': 'VALUE_TYPE_STRING', 'k': 'VALUE_TYPE_INT'}, {'topic0': <':x'>}, "
         "{'topic0': 'x'}, {'topic0': 'x'}, {'topic0': 'tnszeto'}, {'k': <['onvif-data']>, "
         "'topic2': <['isDeprecated']>}, '')"},
        {EVENT_FLAG_ONVIF_SOURCE | EVENT_FLAG_APPLICATION_DATA | EVENT_FLAG_DEPRECATED,
         {"A"},
         "(false, {'topic0': 'VALUE_TYPE_STRING', 'k': 'VALUE_TYPE_INT'}, {'topic0': <'A'>}, "
         "@a{ss} {}, @a{ss} {}, {'topic0': 'tnszeto'}, {'k': <['onvif-source']>, 'topic2': "
         "<['isApplicationData']>, 'topic2': <['isDeprecated']>}, '')"},
    };
    for (auto& c : cases)
        EXPECT_EQ(printed(declareFlaggedEvent(c.levels, "k", c.flags, VALUE_TYPE_INT)), c.expected)
            << c.flags;
}

// Names from files and clients need not be UTF-8; D-Bus strings must be.
TEST(EventDeclaration, InvalidUtf8IsReplaced)
{
    std::string text =
        printed(generateEventDeclaration("ns:Top(bad \xff name)", "k\xfe[b]", false));
    EXPECT_NE(text.find("'bad \uFFFD name'"), std::string::npos) << text;
    EXPECT_NE(text.find("'k\uFFFD': 'VALUE_TYPE_BOOL'"), std::string::npos) << text;
}

// A profile name pasted into a topic level stays one level with its whole
// nice name; the characters that would split it become "_".
TEST(EventDeclaration, ProfileNamesStayInOneLevel)
{
    for (std::string name : {"a/b(c)", "x{y}", "p)q", "[z]"}) {
        std::string topic = formatString("tnszeto:Plinth/tnszeto:ProfileUpdated_%d(Profile \"%s\")",
                                         7, topicSafe(name).c_str());
        auto levels = parseTopic(topic);
        ASSERT_EQ(levels.size(), 2u) << name;
        EXPECT_EQ(levels[1].name, "ProfileUpdated_7");
        EXPECT_TRUE(levels[1].tags.empty()) << name;
        EXPECT_EQ(levels[1].niceName, "Profile \"" + topicSafe(name) + "\"");
        EXPECT_EQ(topicSafe(name).find_first_of("/(){}[]"), std::string::npos);
    }
}
