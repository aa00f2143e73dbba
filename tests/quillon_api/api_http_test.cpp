// The JSON API end to end: the quillon program behind a real lighttpd,
// driven with curl as the web interface would.
#include <sys/stat.h>
#include <sys/wait.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "quillon/config/settings/json_values.h"
#include "support/child_process.h"
#include "support/http_client.h"
#include "support/lighttpd.h"
#include "support/temp_dir.h"
#include "support/wait.h"

using namespace testsupport;

namespace
{

class ApiHttpTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Active, so the daemon does not idle out during the test.
        dir.write("root/etc/quillon/application.conf",
                  R"({"service": {"active": true, "version": "2.6.39+maint+1"}})");
        std::string socket = dir.path() + "/quillon.sock";
        quillon = std::make_unique<ChildProcess>(
            std::vector<std::string>{QUILLON_BIN},
            std::map<std::string, std::string>{{"CAMROOT", dir.path() + "/root"},
                                               {"FCGI_SOCKET_NAME", socket},
                                               {"QUILLON_LOG_STDERR", "1"}});
        struct stat st {
        };
        ASSERT_TRUE(waitFor([&] { return stat(socket.c_str(), &st) == 0; })) << quillon->output();
        web = std::make_unique<Lighttpd>(
            dir.path() + "/web", "$HTTP[\"url\"] =~ \"^/local/quillon/\" {\n"
                                 "  fastcgi.server = ( \".cgi\" => (( \"socket\" => \"" +
                                     socket +
                                     "\", \"check-local\" => \"disable\" )),\n"
                                     "  \".fcgi\" => (( \"socket\" => \"" +
                                     socket + "\", \"check-local\" => \"disable\" )) )\n}\n");
    }

    void TearDown() override
    {
        web.reset();
        if (quillon)
            quillon->stop();
    }

    HttpReply post(const std::string& script, const std::string& body)
    {
        return httpPost(web->url("/local/quillon/" + script), body);
    }

    // The error code of a 200 reply; 0 for "data".
    int codeOf(const HttpReply& reply)
    {
        EXPECT_EQ(reply.status, 200) << reply.headers;
        auto value = quillon::json::parse(reply.body);
        EXPECT_NE(value, nullptr) << reply.body;
        json_object* error = quillon::json::objectMember(value.get(), "error");
        if (error == nullptr)
            return quillon::json::objectMember(value.get(), "data") ? 0 : -1;
        return static_cast<int>(quillon::json::intMember(error, "code").value_or(-1));
    }

    std::string config(const std::string& fileName)
    {
        return dir.exists("root/etc/quillon/" + fileName) ? dir.read("root/etc/quillon/" + fileName)
                                                          : "";
    }

    TempDir dir{"quillon-api-http"};
    std::unique_ptr<ChildProcess> quillon;
    std::unique_ptr<Lighttpd> web;
};

TEST_F(ApiHttpTest, SettingsChangeReachesTheFile)
{
    HttpReply reply = post("admin.cgi", R"({"method": "setAutotrackingSettings", "context": "c1",
        "params": {"minObjectLifespan": {"time": 3, "enabled": true}}})");
    EXPECT_EQ(reply.body,
              R"({ "context": "c1", "method": "setAutotrackingSettings", "data": { } })");
    EXPECT_NE(reply.headers.find("application/json"), std::string::npos) << reply.headers;
    EXPECT_NE(
        config("settings.conf").find(R"("minObjectLifespan": { "time": 3, "enabled": true })"),
        std::string::npos);

    // Any script may read them back.
    reply = post("other.cgi", R"({"method": "getAutotrackingSettings", "params": {}})");
    EXPECT_EQ(codeOf(reply), 0);
    EXPECT_NE(reply.body.find(R"("minObjectLifespan": { "time": 3, "enabled": true })"),
              std::string::npos)
        << reply.body;

    // A refused change answers its code and leaves the file alone.
    std::string before = config("settings.conf");
    EXPECT_EQ(codeOf(post("admin.cgi", R"({"method": "setAutotrackingSettings",
        "params": {"minObjectLifespan": {"time": 9}}})")),
              1401);
    EXPECT_EQ(config("settings.conf"), before);
}

TEST_F(ApiHttpTest, PermissionLevelsFromTheScriptName)
{
    const std::string gains = R"({"method": "setProductConfig", "params": {"tiltPid":
        {"kp": 4.5, "ki": 1.0, "kd": 2.0, "signalThreshold": 0.5}}})";
    EXPECT_EQ(codeOf(post("operator.cgi", gains)), 1003);
    EXPECT_EQ(codeOf(post("other.fcgi", gains)), 1003);
    EXPECT_EQ(config("product.conf").find("4.5"), std::string::npos);
    EXPECT_EQ(codeOf(post("settings.fcgi", gains)), 0);
    EXPECT_NE(config("product.conf").find(R"("tiltPid": { "kp": 4.5)"), std::string::npos);

    EXPECT_EQ(codeOf(post("viewer.cgi", R"({"method": "getEventState", "params": {}})")), 1003);
    EXPECT_EQ(codeOf(post("operator.fcgi", R"({"method": "getEventState", "params": {}})")), 0);
}

TEST_F(ApiHttpTest, BatchesAndMalformedBodies)
{
    HttpReply reply = post("operator.cgi", R"([{"method": "getSupportedVersions", "params": {}},
        {"method": "setTempZone", "params": {"timeout": 200}}, {"params": {}}])");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(
        reply.body,
        R"([ { "method": "getSupportedVersions", "data": { "apiVersions": [ "1.0" ] } }, )"
        R"({ "method": "setTempZone", "error": { "code": 1006 } }, { "error": { "code": 1002 } } ])");
    EXPECT_EQ(codeOf(post("operator.cgi", "{\"method\": ")), 1001);
    EXPECT_EQ(codeOf(post("operator.cgi", R"({"method": "getSupportedVersions"})")), 1004);
}

TEST_F(ApiHttpTest, ApplicationSettingsThroughTheServer)
{
    EXPECT_EQ(
        post("operator.cgi", R"({"method": "getApplicationSettings", "params": {}})").body,
        R"({ "method": "getApplicationSettings", "data": { "service": { "active": true, "version": "2.6.39+maint+1" } } })");
    EXPECT_EQ(codeOf(post("operator.cgi", R"({"method": "setApplicationSettings",
        "params": {"service": {"active": "off"}}})")),
              1005);
    EXPECT_NE(config("application.conf").find("true"), std::string::npos);
}

// Switching the application off through the API re-arms the idle timer: the
// daemon ends about 10 s later and the file says inactive.
TEST_F(ApiHttpTest, InactiveApplicationEndsTheDaemon)
{
    EXPECT_EQ(codeOf(post("admin.cgi", R"({"method": "setApplicationSettings",
        "params": {"service": {"active": false}}})")),
              0);
    EXPECT_NE(config("application.conf").find("\"active\": false"), std::string::npos);
    int status = quillon->waitExit(std::chrono::seconds(25));
    EXPECT_TRUE(WIFEXITED(status)) << status << quillon->output();
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
