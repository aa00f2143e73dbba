// The daemon's key files (validation, restoring the default) and the JSON
// methods of "viscacontrol.cgi", on files under a temporary CAMROOT.
#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

extern "C" {
#include "korund_cgi_api.h"
#include "korund_config.h"
}

#include <jansson.h>

#include <gtest/gtest.h>

namespace
{

using testsupport::TempDir;

const char* kConfig = "etc/korund/korund.conf";
const char* kProducts = "usr/share/ptz/korund_products.conf";
const std::string kDefault = KORUND_DEFAULT_CONFIG;
const std::string kDefaultSaved = kDefault + "\n"; // as the key file writes it

class ConfigTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("CAMROOT", dir.path().c_str(), 1);
        dir.write(kProducts, "[BOTH]\ninterfaceSerial=true\ninterfaceIP=true\n"
                             "serialInPort=/dev/ttyX0\n"
                             "[SERIAL]\ninterfaceSerial=true\n"
                             "[IPONLY]\ninterfaceIP=true\n");
        korund_config_set_reconfigure_func(&ConfigTest::countReconfigure);
        reconfigures = 0;
        lastRestart = false;
    }
    void TearDown() override
    {
        korund_config_set_reconfigure_func(nullptr);
        korund_config_clear();
        unsetenv("CAMROOT");
    }

    void load(const std::string& product, const std::string& file)
    {
        ASSERT_EQ(korund_config_load_product(product.c_str()), 0);
        dir.write(kConfig, file);
        korund_config_load();
    }

    static void countReconfigure(gboolean restart)
    {
        reconfigures++;
        lastRestart = restart;
    }

    TempDir dir{"korund-config"};
    static inline int reconfigures = 0;
    static inline bool lastRestart = false;
};

TEST_F(ConfigTest, ReadsProductAndValidFile)
{
    load("BOTH", "[korund]\nenabled=true\ninterface=viscaOverSerial\n"
                 "serialConfiguration=daisyInChain\nbaudRate=38400\n");
    EXPECT_TRUE(korund_config.has_serial);
    EXPECT_TRUE(korund_config.has_ip);
    EXPECT_STREQ(korund_config.serial_in_port, "/dev/ttyX0");
    EXPECT_EQ(korund_config.serial_out_port, nullptr);
    EXPECT_TRUE(korund_config.enabled);
    EXPECT_EQ(korund_config.interface, KORUND_INTERFACE_SERIAL);
    EXPECT_EQ(korund_config.serial_configuration, KORUND_SERIAL_DAISY_IN_CHAIN);
    EXPECT_EQ(korund_config.baud_rate, 38400);

    // Serial keys are not looked at on a product without serial lines.
    load("IPONLY", "[korund]\nenabled=true\ninterface=viscaOverIP\nbaudRate=12\n");
    EXPECT_EQ(korund_config.interface, KORUND_INTERFACE_IP);
    EXPECT_NE(dir.read(kConfig), kDefaultSaved);
}

TEST_F(ConfigTest, BadFilesAreReplacedByTheDefault)
{
    struct Row {
        const char* product;
        const char* file;
    } rows[] = {
        {"BOTH", "not a key file ["},
        {"BOTH", "[korund]\nenabled=maybe\ninterface=none\n"},
        {"BOTH", "[korund]\ninterface=none\n"},
        {"BOTH", "[korund]\nenabled=true\ninterface=viscaOverUSB\n"},
        {"SERIAL", "[korund]\nenabled=true\ninterface=viscaOverIP\n"},
        {"IPONLY", "[korund]\nenabled=true\ninterface=viscaOverSerial\n"},
        {"BOTH", "[korund]\nenabled=true\ninterface=viscaOverSerial\nserialConfiguration=ring\n"
                 "baudRate=9600\n"},
        {"BOTH", "[korund]\nenabled=true\ninterface=viscaOverSerial\n"
                 "serialConfiguration=pointToPoint\nbaudRate=19200\n"},
        {"BOTH", "[korund]\nenabled=true\ninterface=viscaOverSerial\n"
                 "serialConfiguration=pointToPoint\nbaudRate=fast\n"},
    };
    for (const auto& row : rows) {
        load(row.product, row.file);
        EXPECT_EQ(dir.read(kConfig), kDefaultSaved) << row.file;
        EXPECT_FALSE(korund_config.enabled) << row.file;
        EXPECT_EQ(korund_config.interface, KORUND_INTERFACE_NONE) << row.file;
        EXPECT_EQ(korund_config.baud_rate, 9600) << row.file;
    }
    // A missing file is created with the default text.
    std::remove(dir.file(kConfig).c_str());
    korund_config_load();
    EXPECT_EQ(dir.read(kConfig), kDefaultSaved);
}

TEST_F(ConfigTest, ChangesSaveOnlyWhenTheValueDiffers)
{
    load("BOTH", kDefault);
    std::remove(dir.file(kConfig).c_str());
    EXPECT_EQ(korund_config_set_enabled(FALSE), 0);
    EXPECT_EQ(korund_config_set_interface(KORUND_INTERFACE_NONE), 0);
    EXPECT_EQ(korund_config_set_baud_rate(9600), 0);
    EXPECT_FALSE(dir.exists(kConfig)) << "same values must not write the file";
    EXPECT_EQ(reconfigures, 0);

    EXPECT_EQ(korund_config_set_interface(KORUND_INTERFACE_IP), 0);
    EXPECT_EQ(reconfigures, 1);
    EXPECT_FALSE(lastRestart);
    EXPECT_EQ(korund_config_set_baud_rate(38400), 0);
    EXPECT_TRUE(lastRestart) << "a baud-rate change restarts the serial lines";
    korund_config_clear();
    load("BOTH", dir.read(kConfig));
    EXPECT_EQ(korund_config.interface, KORUND_INTERFACE_IP);
    EXPECT_EQ(korund_config.baud_rate, 38400);
}

TEST_F(ConfigTest, FailedSaveIsReportedAndLaterChangesKeepAllKeys)
{
    load("BOTH", kDefault);
    std::string conf = dir.file(kConfig);
    std::remove(conf.c_str());
    std::string confDir = conf.substr(0, conf.rfind('/'));
    std::rename(confDir.c_str(), (confDir + ".away").c_str());
    testsupport::writeFile(confDir, "a file where the directory was");
    EXPECT_EQ(korund_config_set_enabled(TRUE), -1);
    EXPECT_EQ(korund_config.key_file, nullptr);
    std::remove(confDir.c_str());
    std::rename((confDir + ".away").c_str(), confDir.c_str());

    EXPECT_EQ(korund_config_set_interface(KORUND_INTERFACE_IP), 0);
    korund_config_clear();
    load("BOTH", dir.read(kConfig));
    EXPECT_TRUE(korund_config.enabled);
    EXPECT_EQ(korund_config.interface, KORUND_INTERFACE_IP);
}

// JSON API ----------------------------------------------------------------

class ApiTest : public ConfigTest
{
protected:
    json_t* call(const std::string& body)
    {
        char* text = korund_cgi_handle_json(body.data(), body.size());
        json_error_t error;
        json_t* reply = json_loads(text, 0, &error);
        free(text);
        replies.push_back(reply);
        return reply;
    }
    int errorCode(const std::string& body)
    {
        json_t* error = json_object_get(call(body), "error");
        return error ? static_cast<int>(json_integer_value(json_object_get(error, "code"))) : 0;
    }
    void TearDown() override
    {
        for (json_t* r : replies)
            json_decref(r);
        ConfigTest::TearDown();
    }
    std::vector<json_t*> replies;
};

TEST_F(ApiTest, ErrorCodes)
{
    load("SERIAL", kDefault);
    struct Row {
        const char* body;
        int code;
    } rows[] = {
        {"{\"method\":\"getSupportedVersions\"}", 0},
        {"{\"method\":\"getEnabled\"}", 4001},
        {"{\"apiVersion\":\"1.0\"}", 4001},
        {"{\"apiVersion\":\"1.0\",\"method\":5}", 4001},
        {"{\"apiVersion\":\"2.0\",\"method\":\"getEnabled\"}", 2003},
        {"{\"apiVersion\":\"1.0\",\"method\":\"getEnabled\"}", 0},
        {"{\"apiVersion\":\"1.0\",\"method\":\"reboot\",\"params\":{}}", 2004},
        {"{\"apiVersion\":\"1.0\",\"method\":\"reboot\"}", 4001},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setEnabled\"}", 4001},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setEnabled\",\"params\":{}}", 4001},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setEnabled\",\"params\":[]}", 4002},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setEnabled\",\"params\":{\"enabled\":1}}", 4002},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setEnabled\",\"params\":{\"enabled\":true,\"x\":1}}",
         4000},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setActiveInterface\",\"params\":{\"interface\":1}}",
         4002},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setActiveInterface\","
         "\"params\":{\"interface\":\"viscaOverIP\"}}",
         1000},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setActiveInterface\","
         "\"params\":{\"interface\":\"serial\"}}",
         1000},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setSerialConfiguration\",\"params\":{}}", 4001},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setSerialConfiguration\","
         "\"params\":{\"baudRate\":19200}}",
         1000},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setSerialConfiguration\","
         "\"params\":{\"baudRate\":\"9600\"}}",
         4002},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setSerialConfiguration\","
         "\"params\":{\"serialConfiguration\":\"ring\"}}",
         1000},
        {"{\"apiVersion\":\"1.0\",\"method\":\"setSerialConfiguration\","
         "\"params\":{\"serialConfiguration\":\"daisyInChain\",\"baudRate\":1,\"x\":2}}",
         4000},
        {"{\"apiVersion\":", 4000},
        {"[1,2]", 4000},
        {"", 4000},
    };
    for (const auto& row : rows)
        EXPECT_EQ(errorCode(row.body), row.code) << row.body;
    EXPECT_EQ(korund_config.serial_configuration, KORUND_SERIAL_POINT_TO_POINT)
        << "a refused request changes nothing";
}

TEST_F(ApiTest, EnvelopeAndGetters)
{
    load("BOTH", "[korund]\nenabled=true\ninterface=viscaOverIP\n"
                 "serialConfiguration=daisyEndPoint\nbaudRate=38400\n");
    json_t* r =
        call("{\"apiVersion\":\"1.0\",\"context\":\"c1\",\"method\":\"getSerialConfiguration\"}");
    EXPECT_STREQ(json_string_value(json_object_get(r, "context")), "c1");
    EXPECT_STREQ(json_string_value(json_object_get(r, "apiVersion")), "1.0");
    EXPECT_STREQ(json_string_value(json_object_get(r, "method")), "getSerialConfiguration");
    json_t* data = json_object_get(r, "data");
    EXPECT_STREQ(json_string_value(json_object_get(data, "serialConfiguration")), "daisyEndPoint");
    EXPECT_EQ(json_integer_value(json_object_get(data, "baudRate")), 38400);

    r = call("{\"apiVersion\":\"1.0\",\"context\":7,\"method\":\"getSupportedInterfaces\"}");
    EXPECT_EQ(json_object_get(r, "context"), nullptr) << "a non-string context is not echoed";
    json_t* list = json_object_get(json_object_get(r, "data"), "interfaces");
    ASSERT_EQ(json_array_size(list), 3u);
    EXPECT_STREQ(json_string_value(json_array_get(list, 1)), "viscaOverIP");

    r = call("{\"method\":[1],\"apiVersion\":\"1.0\"}");
    EXPECT_TRUE(json_is_array(json_object_get(r, "method"))) << "method is echoed unchanged";
    json_t* error = json_object_get(r, "error");
    EXPECT_STREQ(json_string_value(json_object_get(error, "message")),
                 "A mandatory input parameter was not found in the input.");

    r = call("{\"apiVersion\":\"1.0\",\"method\":\"getActiveInterface\"}");
    EXPECT_STREQ(json_string_value(json_object_get(json_object_get(r, "data"), "interface")),
                 "viscaOverIP");
}

TEST_F(ApiTest, SetThenGetAndSameValueDoesNotSave)
{
    load("BOTH", kDefault);
    std::remove(dir.file(kConfig).c_str());
    call("{\"apiVersion\":\"1.0\",\"method\":\"setActiveInterface\",\"params\":{\"interface\":"
         "\"none\"}}");
    EXPECT_FALSE(dir.exists(kConfig));

    json_t* r = call("{\"apiVersion\":\"1.0\",\"method\":\"setSerialConfiguration\","
                     "\"params\":{\"serialConfiguration\":\"daisyInChain\",\"baudRate\":38400}}");
    EXPECT_TRUE(json_is_object(json_object_get(r, "data")));
    EXPECT_EQ(json_object_size(json_object_get(r, "data")), 0u);
    r = call("{\"apiVersion\":\"1.0\",\"method\":\"getSerialConfiguration\"}");
    EXPECT_STREQ(
        json_string_value(json_object_get(json_object_get(r, "data"), "serialConfiguration")),
        "daisyInChain");
    EXPECT_NE(dir.read(kConfig).find("baudRate=38400"), std::string::npos);

    r = call("{\"apiVersion\":\"1.0\",\"method\":\"setEnabled\",\"params\":{\"enabled\":true}}");
    r = call("{\"apiVersion\":\"1.0\",\"method\":\"getEnabled\"}");
    EXPECT_TRUE(json_is_true(json_object_get(json_object_get(r, "data"), "enabled")));
}

TEST(CgiRequest, FindsTheBodyAfterTheScriptName)
{
    std::string req = "/local/korund/viscacontrol.cgi\n{\"method\":\"getSupportedVersions\"}";
    gsize len = 0;
    const char* body = korund_cgi_find_body(req.data(), req.size(), &len);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(std::string(body, len), "{\"method\":\"getSupportedVersions\"}");

    std::string bare = "viscacontrol.cgi";
    body = korund_cgi_find_body(bare.data(), bare.size(), &len);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(korund_cgi_answer("other.cgi {}", 12), nullptr);

    char* answer = korund_cgi_answer(req.data(), req.size());
    EXPECT_EQ(std::string(answer).rfind(
                  "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n\r\n{", 0),
              0u);
    g_free(answer);
}

} // namespace
