// libpavane's CGI end to end: curl -> lighttpd -> cgirelay -> transfer
// socket -> a service hosting the library (pavane_test_host).
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/lighttpd.h"
#include "support/temp_dir.h"
#include "support/wait.h"

using nlohmann::json;
using namespace testsupport;

namespace
{

class PavaneWeb : public ::testing::Test
{
protected:
    void start(const std::string& variant, bool fatalWarnings = true)
    {
        // ZOLOG_ECHO: log lines reach the output even where syslog runs.
        std::map<std::string, std::string> env = {{"CAMROOT", dir_.path() + "/root"},
                                                  {"ZOLOG_ECHO", "1"}};
        if (fatalWarnings)
            env["G_DEBUG"] = "fatal-warnings";
        host_ = std::make_unique<ChildProcess>(std::vector<std::string>{PAVANE_TEST_HOST, variant},
                                               env);
        ASSERT_TRUE(host_->waitForOutput("ready")) << host_->output();
        socket_ = dir_.path() + "/root/run/pavane/transfer";
        dir_.write("web/www/local/pavane/videooutput2.cgi", "socket " + socket_ + "\n");
        dir_.write("web/www/local/pavane/other.cgi", "socket " + socket_ + "\n");
        dir_.write("web/www/local/pavane/fixed.cgi", "#!/ignored\n# measuring only\nfixed-reply\n");
        dir_.write("web/www/local/pavane/broken.cgi", "sockets nowhere\n");
        web_ = std::make_unique<Lighttpd>(dir_.path() + "/web",
                                          "$HTTP[\"url\"] =~ \"^/local/pavane/\" {\n"
                                          "  cgi.assign = ( \".cgi\" => \"" CGIRELAY "\" )\n"
                                          "}\n");
    }

    void TearDown() override
    {
        // The host ends cleanly on SIGTERM (and, in the sanitizer build,
        // without a leak or memory error report, which would abort it).
        if (host_) {
            int status = host_->stop();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << host_->output();
        }
        web_.reset();
    }

    HttpReply post(const std::string& body, const std::string& cgi = "videooutput2.cgi")
    {
        return httpPost(web_->url("/local/pavane/" + cgi), body);
    }

    // Posts a request and returns the parsed reply (status 200 expected).
    json send(const json& request)
    {
        HttpReply reply = post(request.dump());
        EXPECT_EQ(reply.status, 200) << reply.body << web_->errorLog() << host_->output();
        EXPECT_NE(reply.headers.find("application/json"), std::string::npos);
        return json::parse(reply.body, nullptr, false);
    }

    json call(const std::string& method, const json& params = nullptr,
              const std::string& version = "1.0")
    {
        json request = {{"apiVersion", version}, {"method", method}};
        if (!params.is_null())
            request["params"] = params;
        return send(request);
    }

    static int errorCode(const json& reply)
    {
        if (!reply.contains("error"))
            return 0;
        return reply["error"]["code"].get<int>();
    }

    TempDir dir_{"pavane-web"};
    std::unique_ptr<ChildProcess> host_;
    std::unique_ptr<Lighttpd> web_;
    std::string socket_;
};

TEST_F(PavaneWeb, ListsOutputsAndChangesScanModeVisibly)
{
    start("full");
    json reply = send({{"apiVersion", "1.0"}, {"context", "abc"}, {"method", "getOutputs"}});
    json expected = R"({"apiVersion":"1.0","context":"abc","method":"getOutputs","data":{"outputs":[
        {"id":0,"type":"HDMI","name":"hdmi0","enabled":true},
        {"id":1,"type":"SDI","name":"sdi0","enabled":false}]}})"_json;
    EXPECT_EQ(reply, expected);

    EXPECT_EQ(call("getScanMode", {{"id", 1}})["data"]["scanMode"], "progressive");
    json set = call("setScanMode", {{"id", 1}, {"scanMode", "interlaced"}});
    EXPECT_EQ(errorCode(set), 0) << set;
    EXPECT_FALSE(set.contains("data"));
    EXPECT_EQ(call("getScanMode", {{"id", 1}})["data"]["scanMode"], "interlaced");
    EXPECT_EQ(call("getScanMode", {{"id", 0}})["data"]["scanMode"], "progressive");
}

TEST_F(PavaneWeb, ReplyTextIsTheDocumentedHttpResponse)
{
    start("full");
    HttpReply reply = post(R"({"apiVersion":"1.0","method":"getSDICoding","params":{"id":1}})");
    ASSERT_EQ(reply.status, 200);
    // Members in order apiVersion, method, data; indented by 2.
    EXPECT_EQ(reply.body, "\r\n{\n  \"apiVersion\": \"1.0\",\n  \"method\": \"getSDICoding\",\n"
                          "  \"data\": {\n    \"coding\": \"level-A\"\n  }\n}");
}

TEST_F(PavaneWeb, EveryMethodSucceeds)
{
    start("full");
    EXPECT_EQ(call("getSupportedVersions")["data"], json::parse(R"({"apiVersions":["1.2"]})"));
    json methods = call("getSupportedMethods")["data"]["methods"];
    EXPECT_EQ(methods.size(), 15u);
    EXPECT_EQ(methods.front(), "getSupportedVersions");
    EXPECT_EQ(methods.back(), "switchScanMode");
    EXPECT_EQ(call("getSupportedScanModes", {{"id", 0}})["data"],
              json::parse(R"({"scanModes":["progressive","interlaced"]})"));
    EXPECT_EQ(call("getSupportedSDICodings", {{"id", 1}})["data"],
              json::parse(R"({"codings":["level-A","level-B"]})"));
    EXPECT_EQ(call("getEnabledOutputs")["data"], json::parse(R"({"outputs":[0]})"));

    EXPECT_EQ(errorCode(call("setOutputEnabled", {{"id", 1}})), 0);
    EXPECT_EQ(call("getEnabledOutputs")["data"]["outputs"], json::parse("[0,1]"));
    EXPECT_EQ(errorCode(call("setOutputDisabled", {{"id", 0}})), 0);
    EXPECT_EQ(call("getEnabledOutputs")["data"]["outputs"], json::parse("[1]"));
    EXPECT_EQ(errorCode(call("switchEnabledOutput")), 0);
    EXPECT_EQ(call("getEnabledOutputs")["data"]["outputs"], json::parse("[0]"));

    EXPECT_EQ(errorCode(call("setSDICoding", {{"id", 1}, {"coding", "level-B"}})), 0);
    EXPECT_EQ(call("getSDICoding", {{"id", 1}})["data"]["coding"], "level-B");
    EXPECT_EQ(errorCode(call("switchSDICoding", {{"id", 1}})), 0);
    EXPECT_EQ(call("getSDICoding", {{"id", 1}})["data"]["coding"], "level-A");

    // No "id": the service picks (here: the first enabled output, 0).
    EXPECT_EQ(errorCode(call("switchScanMode")), 0);
    EXPECT_EQ(call("getScanMode", {{"id", 0}})["data"]["scanMode"], "interlaced");
    EXPECT_EQ(call("getScanMode")["data"]["scanMode"], "interlaced");
}

TEST_F(PavaneWeb, RefusesBadParameters)
{
    start("full");
    struct Case {
        const char* request;
        int code;
    } cases[] = {
        {R"({"apiVersion":"1.0","method":"setOutputEnabled"})", 2103},
        {R"({"apiVersion":"1.0","method":"setOutputEnabled","params":{}})", 2103},
        {R"({"apiVersion":"1.0","method":"setOutputEnabled","params":{"id":"1"}})", 2104},
        {R"({"apiVersion":"1.0","method":"setOutputDisabled","params":{"id":1.5}})", 2104},
        {R"({"apiVersion":"1.0","method":"setOutputEnabled","params":{"id":7}})", 2104},
        {R"({"apiVersion":"1.0","method":"setOutputEnabled","params":{"id":4294967296}})", 2104},
        {R"({"apiVersion":"1.0","method":"getScanMode","params":{"id":true}})", 2104},
        {R"({"apiVersion":"1.0","method":"getSupportedScanModes","params":{"id":null}})", 2104},
        {R"({"apiVersion":"1.0","method":"setScanMode"})", 2103},
        {R"({"apiVersion":"1.0","method":"setScanMode","params":{"id":0}})", 2103},
        {R"({"apiVersion":"1.0","method":"setScanMode","params":{"id":0,"scanMode":1}})", 2104},
        {R"({"apiVersion":"1.0","method":"setScanMode","params":{"id":0,"scanMode":"fast"}})",
         2104},
        {R"({"apiVersion":"1.0","method":"setSDICoding","params":{"id":1}})", 2103},
        {R"({"apiVersion":"1.0","method":"setSDICoding","params":{"id":0,"coding":"level-B"}})",
         2201},
        {R"({"apiVersion":"1.0","method":"getSDICoding","params":{"id":0}})", 2201},
        {R"({"apiVersion":"1.0","method":"switchScanMode","params":{"id":"x"}})", 2104},
        {R"({"apiVersion":"1.0","method":"getScanMode","params":[1]})", 2104},
        {R"({"apiVersion":"1.0","method":"reboot"})", 2102},
        {R"({"apiVersion":"1.0","method":7})", 2103},
        {R"({"apiVersion":"1.0"})", 2103},
    };
    for (const Case& c : cases) {
        HttpReply reply = post(c.request);
        ASSERT_EQ(reply.status, 200) << c.request;
        json parsed = json::parse(reply.body);
        EXPECT_EQ(errorCode(parsed), c.code) << c.request << " -> " << parsed;
        EXPECT_FALSE(parsed.contains("data")) << c.request;
    }
    json reply = call("setOutputEnabled", {{"id", "1"}});
    EXPECT_EQ(reply["error"], json::parse(R"({"code":2104,
        "message":"Invalid parameter value specified"})"));
}

TEST_F(PavaneWeb, NegotiatesVersions)
{
    start("full");
    for (const char* ok : {"1.0", "1.2", "1.1"})
        EXPECT_EQ(errorCode(call("getOutputs", nullptr, ok)), 0) << ok;
    for (const char* bad : {"1.3", "2.0", "0.9", "1", "1.", ".1", "a.b", "1.2.3", "1.2x", " 1.2",
                            "+1.2", "1.-2", "", "99999999999.0"})
        EXPECT_EQ(errorCode(call("getOutputs", nullptr, bad)), 2100) << bad;

    // Without a version only getSupportedVersions is answered.
    json versions = send(json{{"method", "getSupportedVersions"}, {"context", "c"}});
    EXPECT_EQ(versions, json::parse(R"({"context":"c","method":"getSupportedVersions",
                                       "data":{"apiVersions":["1.2"]}})"));
    json missing = send(json{{"method", "getOutputs"}, {"context", "c"}});
    EXPECT_EQ(missing, json::parse(R"({"context":"c","method":"getOutputs","error":
                                      {"code":2103,"message":"Required parameter missing"}})"));
    // A version that is not a string counts as missing.
    EXPECT_EQ(errorCode(send(json{{"method", "getOutputs"}, {"apiVersion", 1.0}})), 2103);
    // getSupportedVersions is answered whatever version is asked for.
    EXPECT_EQ(errorCode(call("getSupportedVersions", nullptr, "7.7")), 0);
}

TEST_F(PavaneWeb, MalformedServiceVersionIsAnInternalError)
{
    start("bad-version");
    EXPECT_EQ(errorCode(call("getOutputs")), 1100);
}

TEST_F(PavaneWeb, MissingCallbacksAnswerMethodNotSupported)
{
    start("no-switch-scan");
    EXPECT_EQ(errorCode(call("switchScanMode", {{"id", 0}})), 2102);
    json methods = call("getSupportedMethods")["data"]["methods"];
    EXPECT_EQ(methods.size(), 14u);
    for (auto& m : methods)
        EXPECT_NE(m, "switchScanMode");
}

TEST_F(PavaneWeb, MinimalTableServesOnlyTheAlwaysAvailableMethods)
{
    start("minimal");
    EXPECT_EQ(call("getSupportedMethods")["data"]["methods"],
              json::parse(R"(["getSupportedVersions","getSupportedMethods","getOutputs"])"));
    for (const char* m : {"getScanMode", "setScanMode", "getEnabledOutputs", "switchEnabledOutput",
                          "getSupportedSDICodings"})
        EXPECT_EQ(errorCode(call(m, {{"id", 0}, {"scanMode", "interlaced"}})), 2102) << m;
    EXPECT_EQ(errorCode(call("getOutputs")), 0);
}

TEST_F(PavaneWeb, PortTypeWithoutStringIsAnInternalError)
{
    start("bad-port-type");
    json reply = call("getOutputs");
    EXPECT_EQ(reply["error"], json::parse(R"({"code":1100,"message":"Internal error"})"));
    EXPECT_FALSE(reply.contains("data"));
}

TEST_F(PavaneWeb, InvalidJsonIsAnsweredWithTheErrorAlone)
{
    start("full");
    for (const char* body : {"", "{", "not json", "{\"method\":}", "\"text\""}) {
        HttpReply reply = post(body);
        ASSERT_EQ(reply.status, 200) << body;
        EXPECT_EQ(json::parse(reply.body),
                  json::parse(R"({"error":{"code":2101,"message":"Invalid JSON"}})"))
            << body;
    }
    EXPECT_TRUE(host_->waitForOutput("OOPS, this is not json"));
    // Trailing bytes after the JSON value are not checked.
    EXPECT_EQ(
        errorCode(json::parse(post(R"({"apiVersion":"1.0","method":"getOutputs"} trailing)").body)),
        0);
}

TEST_F(PavaneWeb, OtherCgiNamesGetNoAnswer)
{
    start("full");
    HttpReply reply = post(R"({"apiVersion":"1.0","method":"getOutputs"})", "other.cgi");
    EXPECT_NE(reply.status, 200);
    EXPECT_EQ(reply.body.find("outputs"), std::string::npos);
    // The service goes on serving.
    EXPECT_EQ(errorCode(call("getOutputs")), 0);
}

TEST_F(PavaneWeb, StrayDatagramsDoNotStopTheService)
{
    start("full", false);
    // A datagram without a descriptor, as any local peer could send.
    int sock = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(socket_.size(), sizeof(addr.sun_path));
    socket_.copy(addr.sun_path, socket_.size());
    const char junk[] = "videooutput2.cgi {}";
    ASSERT_EQ(sendto(sock, junk, sizeof(junk), 0, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)),
              static_cast<ssize_t>(sizeof(junk)));
    close(sock);
    EXPECT_TRUE(host_->waitForOutput("Could not receive fd"));
    EXPECT_EQ(errorCode(call("getOutputs")), 0);
}

TEST_F(PavaneWeb, RelayRefusesWhatItCannotDeliver)
{
    start("full");
    std::string big =
        R"({"apiVersion":"1.0","method":"getOutputs","pad":")" + std::string(5000, 'x') + "\"}";
    EXPECT_EQ(post(big).status, 413);
    host_->stop();
    EXPECT_EQ(post(R"({"apiVersion":"1.0","method":"getOutputs"})").status, 503);
}

TEST_F(PavaneWeb, RelayFilesSelectTheAnswer)
{
    start("full");
    HttpReply fixed = post("{}", "fixed.cgi");
    EXPECT_EQ(fixed.status, 200);
    EXPECT_EQ(json::parse(fixed.body)["method"], "fixed");
    EXPECT_EQ(post("{}", "broken.cgi").status, 500);
}

} // namespace
