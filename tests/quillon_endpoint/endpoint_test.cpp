// The FastCGI endpoint through a real lighttpd and curl.

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "quillon_server.h"
#include "support/http_client.h"

using namespace testsupport;

namespace
{

const std::string kVersions = R"({"method":"getSupportedVersions","params":{},"context":"x"})";

class Endpoint : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { server = std::make_unique<QuillonServer>(kActiveConf); }
    static void TearDownTestSuite() { server.reset(); }

    static HttpReply post(const std::string& script, const std::string& body)
    {
        return httpPost(server->url("/local/quillon/" + script), body);
    }

    static std::unique_ptr<QuillonServer> server;
};

std::unique_ptr<QuillonServer> Endpoint::server;

bool hasError(const HttpReply& reply, int code)
{
    return reply.body.find("\"error\": { \"code\": " + std::to_string(code) + " }") !=
           std::string::npos;
}

} // namespace

TEST_F(Endpoint, PostRoundTripAnswersJsonWithTheContext)
{
    auto reply = post("operator.cgi", kVersions);
    ASSERT_EQ(reply.status, 200) << server->process().output();
    EXPECT_NE(reply.headers.find("Content-type: 'application/json; charset=utf-8'"),
              std::string::npos)
        << reply.headers;
    EXPECT_EQ(reply.body, R"({ "context": "x", "method": "getSupportedVersions", "data": { )"
                          R"("apiVersions": [ "1.0" ] } })");
    // The API logs each request and reply.
    EXPECT_TRUE(server->process().waitForOutput("CGI-in:1:[" + kVersions + "]"));
}

TEST_F(Endpoint, BodiesOf4096BytesOrMoreAreRefusedUnread)
{
    std::string body = kVersions;
    body.resize(4095, ' ');
    auto accepted = post("operator.cgi", body);
    EXPECT_EQ(accepted.status, 200);
    EXPECT_NE(accepted.body.find("apiVersions"), std::string::npos) << accepted.body;

    body.push_back(' ');
    auto refused = post("operator.cgi", body);
    EXPECT_EQ(refused.status, 413);
    EXPECT_EQ(refused.body, "Payload Too Large\r\n");
    EXPECT_TRUE(server->process().waitForOutput(
        "Could not read entire CGI buffer. Read max size of 4096."));

    body.append(10000, ' ');
    EXPECT_EQ(post("operator.cgi", body).status, 413);
    // The loop keeps serving.
    EXPECT_EQ(post("operator.cgi", kVersions).status, 200);
}

TEST_F(Endpoint, OnlyPostIsAllowed)
{
    for (const char* method : {"GET", "PUT", "DELETE"}) {
        auto reply = httpRequest(method, server->url("/local/quillon/operator.cgi"), nullptr);
        EXPECT_EQ(reply.status, 405) << method;
        EXPECT_EQ(reply.body, "Only POST supported\r\n") << method;
        EXPECT_NE(reply.headers.find("Allow: POST"), std::string::npos) << reply.headers;
    }
}

TEST_F(Endpoint, PermissionLevelComesFromTheEndingOfTheScriptName)
{
    const std::string product =
        R"({"method":"setProductConfig","params":{"vcSizeFilter":{"enabled":false}}})";
    const std::string app = R"({"method":"getApplicationSettings","params":{}})";

    // Level 2 method: refused for operator scripts, accepted for admin/settings.
    EXPECT_TRUE(hasError(post("operator.cgi", product), 1003));
    EXPECT_TRUE(hasError(post("operator.fcgi", product), 1003));
    EXPECT_TRUE(hasError(post("admin/operator.cgi", product), 1003)); // directory does not count
    EXPECT_NE(post("admin.cgi", product).body.find("\"data\": { }"), std::string::npos);
    EXPECT_NE(post("settings.fcgi", product).body.find("\"data\": { }"), std::string::npos);

    // Level 1 method: refused for any other script name.
    EXPECT_TRUE(hasError(post("viewer.cgi", app), 1003));
    EXPECT_TRUE(hasError(post("operator.cgi.cgi", app), 1003));
    EXPECT_NE(post("operator.cgi", app).body.find("\"active\": true"), std::string::npos);
    // Level 0 method: anyone.
    EXPECT_NE(post("viewer.cgi", kVersions).body.find("apiVersions"), std::string::npos);
}

TEST_F(Endpoint, MalformedBodiesGetJsonErrorsWithStatus200)
{
    for (std::string body : {"{", "", "null", "[1,", "garbage", "42", "\"text\""}) {
        auto reply = post("admin.cgi", body);
        EXPECT_EQ(reply.status, 200) << body;
        EXPECT_EQ(reply.body, R"({ "error": { "code": 1001 } })") << body;
    }
    auto noParams = post("admin.cgi", R"({"method":"getSupportedVersions"})");
    EXPECT_EQ(noParams.body, R"({ "error": { "code": 1004 } })");
    auto batch = post("admin.cgi", R"([{"method":"getSupportedVersions","params":{}}, 5])");
    EXPECT_EQ(batch.body, R"([ { "method": "getSupportedVersions", "data": { "apiVersions": )"
                          R"([ "1.0" ] } }, { "error": { "code": 1002 } } ])");
}

TEST_F(Endpoint, BodyEndsAtTheFirstNulByte)
{
    std::string body = kVersions + std::string("\0", 1) + "this is not JSON {{{";
    auto reply = post("operator.cgi", body);
    EXPECT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find("apiVersions"), std::string::npos) << reply.body;

    std::string leading = std::string("\0", 1) + kVersions;
    EXPECT_EQ(post("operator.cgi", leading).body, R"({ "error": { "code": 1001 } })");
}

TEST_F(Endpoint, SettingsChangesReachTheirFiles)
{
    auto reply = post("admin.cgi", R"({"method":"setAutotrackingSettings","params":)"
                                   R"({"minObjectLifespan":{"time":3,"enabled":true}}})");
    EXPECT_NE(reply.body.find("\"data\": { }"), std::string::npos) << reply.body;
    std::string settings = readFile(server->root() + "/etc/quillon/settings.conf");
    EXPECT_NE(settings.find(R"("minObjectLifespan": { "time": 3, "enabled": true })"),
              std::string::npos)
        << settings;
}
