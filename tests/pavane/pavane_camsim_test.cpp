// The simulated camera serves its video outputs through libpavane: curl
// through lighttpd and cgirelay lists them and changes a scan mode.
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/lighttpd.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"

using nlohmann::json;
using namespace testsupport;

namespace
{

class PavaneCamsim : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bus_ = std::make_unique<PrivateBus>(dir_.path());
        camsim_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{CAMSIM},
            std::map<std::string, std::string>{{"CAMROOT", dir_.path() + "/root"}});
        ASSERT_TRUE(camsim_->waitForOutput("camsim ready")) << camsim_->output();
        dir_.write("web/www/local/pavane/videooutput2.cgi",
                   "socket " + dir_.path() + "/root/run/pavane/transfer\n");
        web_ = std::make_unique<Lighttpd>(dir_.path() + "/web",
                                          "$HTTP[\"url\"] =~ \"^/local/pavane/\" {\n"
                                          "  cgi.assign = ( \".cgi\" => \"" CGIRELAY "\" )\n"
                                          "}\n");
    }

    json call(const std::string& method, const json& params = nullptr)
    {
        json request = {{"apiVersion", "1.2"}, {"method", method}};
        if (!params.is_null())
            request["params"] = params;
        HttpReply reply = httpPost(web_->url("/local/pavane/videooutput2.cgi"), request.dump());
        EXPECT_EQ(reply.status, 200) << web_->errorLog() << camsim_->output();
        return json::parse(reply.body, nullptr, false);
    }

    TempDir dir_{"pavane-camsim"};
    std::unique_ptr<PrivateBus> bus_;
    std::unique_ptr<ChildProcess> camsim_;
    std::unique_ptr<Lighttpd> web_;
};

TEST_F(PavaneCamsim, ListsOutputsAndChangesScanMode)
{
    json outputs = call("getOutputs")["data"]["outputs"];
    ASSERT_EQ(outputs.size(), 2u) << outputs;
    EXPECT_EQ(outputs[0]["type"], "HDMI");
    EXPECT_EQ(outputs[1]["type"], "SDI");

    EXPECT_EQ(call("getScanMode", {{"id", 1}})["data"]["scanMode"], "interlaced");
    json set = call("setScanMode", {{"id", 1}, {"scanMode", "progressive"}});
    EXPECT_FALSE(set.contains("error")) << set;
    EXPECT_EQ(call("getScanMode", {{"id", 1}})["data"]["scanMode"], "progressive");

    EXPECT_EQ(call("getSupportedSDICodings", {{"id", 1}})["data"]["codings"],
              json::parse(R"(["level-A","level-B"])"));
    EXPECT_EQ(call("getSDICoding", {{"id", 0}})["error"]["code"], 2201);
    EXPECT_FALSE(call("switchEnabledOutput").contains("error"));
    EXPECT_EQ(call("getEnabledOutputs")["data"]["outputs"], json::parse("[1]"));
}

} // namespace
