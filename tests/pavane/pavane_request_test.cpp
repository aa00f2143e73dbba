// The request handler and reply writer of libpavane, called in-process.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include <gtest/gtest.h>

#include "pavane_private.h"

using nlohmann::json;

namespace
{

int versions(char*** list, int* count)
{
    static char* v[] = {const_cast<char*>("1.2")};
    *list = v;
    *count = 1;
    return 0;
}
int getPorts(VideoOutputServicePort** list, int* count)
{
    static VideoOutputServicePort ports[] = {{0, 0, nullptr, 1}};
    *list = ports;
    *count = 1;
    return 0;
}
int emptyVersions(char*** list, int* count)
{
    *list = nullptr;
    *count = 0;
    return 0;
}

const char kHeader[] = "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n\r\n";

class PavaneRequest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        table_.get_supported_versions = versions;
        table_.get_ports = getPorts;
        ASSERT_EQ(pavane_api_set_table(&table_), 0);
    }

    // Answers `message` (bytes as received) and returns the reply text, or
    // "<none>" when there is no answer.
    static std::string answer(const std::string& message)
    {
        size_t len = 0;
        char* reply = pavane_cgi_handle_request(message.data(), message.size(), &len);
        if (reply == nullptr)
            return "<none>";
        std::string text(reply, len);
        g_free(reply);
        return text;
    }

    static json body(const std::string& reply)
    {
        EXPECT_EQ(reply.rfind(kHeader, 0), 0u) << reply;
        return json::parse(reply.substr(sizeof(kHeader) - 1), nullptr, false);
    }

    VideoOutputFunctions table_{};
};

TEST_F(PavaneRequest, BodyStartsOneByteAfterTheCgiName)
{
    const std::string request = R"({"apiVersion":"1.0","method":"getOutputs"})";
    for (char separator : {'\0', ' ', '?', '\n'}) {
        json reply =
            body(answer("/local/pavane/videooutput2.cgi" + std::string(1, separator) + request));
        EXPECT_EQ(reply["data"]["outputs"][0]["type"], "HDMI") << int(separator);
    }
    // A NULL service name is sent as an empty string.
    EXPECT_EQ(body(answer(std::string("videooutput2.cgi") + '\0' +
                          request))["data"]["outputs"][0]["name"],
              "");
}

TEST_F(PavaneRequest, RequestsForOtherNamesGetNoAnswer)
{
    EXPECT_EQ(answer(""), "<none>");
    EXPECT_EQ(answer(std::string("/local/korund/viscacontrol.cgi") + '\0' + "{}"), "<none>");
    EXPECT_EQ(answer("videooutput2.cg"), "<none>");
    // The name is searched in all received bytes, NUL bytes included.
    EXPECT_NE(answer(std::string("x\0", 2) + "videooutput2.cgi {}"), "<none>");
}

TEST_F(PavaneRequest, NameWithoutBodyIsInvalidJson)
{
    for (const char* message : {"videooutput2.cgi", "videooutput2.cgi ", "videooutput2.cgi {"}) {
        EXPECT_EQ(body(answer(message)),
                  json::parse(R"({"error":{"code":2101,"message":"Invalid JSON"}})"))
            << message;
    }
}

TEST_F(PavaneRequest, ServiceWithoutVersionsRefusesVersionedRequests)
{
    table_.get_supported_versions = emptyVersions;
    EXPECT_EQ(
        body(answer(
            R"(videooutput2.cgi {"apiVersion":"1.0","method":"getOutputs"})"))["error"]["code"],
        2100);
    EXPECT_EQ(body(answer(R"(videooutput2.cgi {"method":"getSupportedVersions"})"))["data"],
              json::parse(R"({"apiVersions":[]})"));
}

TEST_F(PavaneRequest, EchoesOnlyStringEnvelopeMembers)
{
    json reply = body(answer(
        R"(videooutput2.cgi {"apiVersion":"1.0","method":"getOutputs","context":5,"params":null})"));
    EXPECT_FALSE(reply.contains("context"));
    EXPECT_EQ(reply["apiVersion"], "1.0");
    EXPECT_TRUE(reply.contains("data"));
    // Methods without parameters ignore whatever "params" holds.
    EXPECT_TRUE(body(answer(R"(videooutput2.cgi {"method":"getSupportedVersions","params":[1]})"))
                    .contains("data"));
    json noMethod = body(answer(R"(videooutput2.cgi {"apiVersion":"1.0","context":"c"})"));
    EXPECT_EQ(noMethod, json::parse(R"({"apiVersion":"1.0","context":"c","error":
                                      {"code":2103,"message":"Required parameter missing"}})"));
}

TEST(PavaneReply, SlowReaderDoesNotBlockTheService)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
    std::string big(256 * 1024, 'x');
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(pavane_write_reply(fds[1], big.data(), big.size(), 200));
    // Returned after the time-out instead of waiting for a reader forever.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    close(fds[0]);
    close(fds[1]);

    ASSERT_EQ(pipe(fds), 0);
    EXPECT_TRUE(pavane_write_reply(fds[1], "abc", 3, 200));
    char buf[4] = {};
    EXPECT_EQ(read(fds[0], buf, 3), 3);
    EXPECT_STREQ(buf, "abc");
    close(fds[0]);
    close(fds[1]);
    EXPECT_FALSE(pavane_write_reply(-1, "abc", 3, 200));
}

} // namespace
