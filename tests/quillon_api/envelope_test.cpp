#include <gtest/gtest.h>

#include "quillon_api/api_test_support.h"

using quillontest::ApiTest;

using EnvelopeTest = ApiTest;

TEST_F(EnvelopeTest, ReplyEchoesContextAndVersionInOrder)
{
    EXPECT_EQ(
        api().process(R"({"method": "getSupportedVersions", "params": {}, "context": "x"})", 0),
        R"({ "context": "x", "method": "getSupportedVersions", "data": { "apiVersions": [ "1.0" ] } })");
    EXPECT_EQ(
        api().process(R"({"apiVersion": "1.0", "context": "c", "params": {},
        "method": "getSupportedVersions"})",
                      0),
        R"({ "context": "c", "apiVersion": "1.0", "method": "getSupportedVersions", "data": { "apiVersions": [ "1.0" ] } })");
    // Non-string context and version are not echoed.
    EXPECT_EQ(api().process(R"({"method": "getEventState", "params": {}, "context": 5,
        "apiVersion": null})",
                            1),
              R"({ "method": "getEventState", "data": { "enabled": false } })");
}

TEST_F(EnvelopeTest, MalformedRequests)
{
    const std::string notJson = R"({ "error": { "code": 1001 } })";
    for (const char* body : {"", "{", "not json", "42", "\"text\"", "null", "true",
                             R"({"method": "getSupportedVersions", "params": {}} trailing)",
                             R"({"method": "getSupportedVersions", "params": {}}{"method": "x"})"})
        EXPECT_EQ(api().process(body, 2), notJson) << body;

    EXPECT_EQ(api().process(R"({"params": {}})", 2), R"({ "error": { "code": 1002 } })");
    EXPECT_EQ(api().process(R"({"method": 7, "params": {}})", 2),
              R"({ "error": { "code": 1002 } })");
    EXPECT_EQ(api().process(R"({"method": "getSupportedVersions"})", 2),
              R"({ "error": { "code": 1004 } })");
    EXPECT_EQ(api().process(R"({"method": "getSupportedVersions", "params": []})", 2),
              R"({ "error": { "code": 1004 } })");
    EXPECT_EQ(api().process(R"({"method": "noSuchMethod", "params": {}, "context": "q"})", 2),
              R"({ "context": "q", "method": "noSuchMethod", "error": { "code": 1003 } })");
    // Deep nesting is refused by the parser, not by a crash.
    EXPECT_EQ(api().process(std::string(5000, '['), 2), notJson);
}

TEST_F(EnvelopeTest, BodyIsCutAtTheFirstNulByte)
{
    std::string body = R"({"method": "getSupportedVersions", "params": {}})";
    body += std::string("\0garbage", 8);
    EXPECT_EQ(codeOf(api().process(body, 0)), 0);
}

TEST_F(EnvelopeTest, BatchesAnswerEveryElementInOrder)
{
    EXPECT_EQ(
        api().process(R"([{"method": "getSupportedVersions", "params": {}}, 5])", 0),
        R"([ { "method": "getSupportedVersions", "data": { "apiVersions": [ "1.0" ] } }, { "error": { "code": 1002 } } ])");
    EXPECT_EQ(api().process("[]", 0), "[ ]");
    // Null elements are skipped; nested arrays and refusals answer in place.
    EXPECT_EQ(
        api().process(R"([null, {"method": "setProductConfig", "params": {}}, [1],
        {"method": "getViewportConfig"}])",
                      1),
        R"([ { "method": "setProductConfig", "error": { "code": 1003 } }, { "error": { "code": 1002 } }, { "error": { "code": 1004 } } ])");
}

TEST_F(EnvelopeTest, PermissionLevels)
{
    struct Case {
        const char* method;
        int minLevel;
    };
    // Calls with empty params: the handlers answer something other than 1003
    // once the level is high enough.
    const Case cases[] = {
        {"getApplicationSettings", 1},
        {"setApplicationSettings", 1},
        {"getAutotrackingTarget", 1},
        {"setAutotrackingTarget", 1},
        {"getAutotrackingSettings", 0},
        {"setAutotrackingSettings", 1},
        {"getAutotrackingState", 1},
        {"setAutotrackingState", 1},
        {"getEventState", 1},
        {"setEventState", 1},
        {"getViewportConfig", 0},
        {"setViewportConfig", 0},
        {"setProductConfig", 2},
        {"setAutotrackingPid", 2},
        {"setTempZone", 1},
        {"getSupportedVersions", 0},
    };
    for (const Case& c : cases) {
        for (int level = 0; level <= 2; ++level) {
            int code = codeOf(call(c.method, "{}", level));
            if (level < c.minLevel)
                EXPECT_EQ(code, 1003) << c.method << " at level " << level;
            else
                EXPECT_NE(code, 1003) << c.method << " at level " << level;
        }
    }
}
