#pragma once

#include <json-c/json.h>

#include <string>

#include <gtest/gtest.h>

#include "quillon/api/methods/json_api.h"
#include "quillon/config/settings/json_values.h"
#include "quillon/config/settings/settings_files.h"
#include "quillon_settings/bus_recorder.h"
#include "support/temp_dir.h"

namespace quillontest
{

// One JsonApi for the test program; the settings holders it uses are
// process-wide and live under the program's CAMROOT.
class ApiTest : public ::testing::Test
{
protected:
    // The holders load (and publish) on first use; get that out of the way.
    void SetUp() override
    {
        quillon::applicationSettingsFile();
        quillon::trackerSettingsFile();
        quillon::productSettingsFile();
        bus->clear();
    }

    static quillon::JsonApi& api()
    {
        static quillon::JsonApi instance;
        return instance;
    }

    // The reply to one request, as text.
    std::string call(const std::string& method, const std::string& params = "{}", int level = 2)
    {
        return api().process(R"({"method": ")" + method + R"(", "params": )" + params + "}", level);
    }

    // The reply parsed; fails the test when it is not JSON.
    quillon::json::JsonPtr reply(const std::string& text)
    {
        auto value = quillon::json::parse(text);
        EXPECT_NE(value, nullptr) << text;
        return value;
    }

    // The error code of a reply, 0 when it has "data".
    int codeOf(const std::string& text)
    {
        auto value = reply(text);
        json_object* error = quillon::json::objectMember(value.get(), "error");
        if (error == nullptr) {
            EXPECT_NE(quillon::json::objectMember(value.get(), "data"), nullptr) << text;
            return 0;
        }
        return static_cast<int>(quillon::json::intMember(error, "code").value_or(-1));
    }

    // The "data" object of a successful reply as plain JSON text.
    std::string dataOf(const std::string& text)
    {
        auto value = reply(text);
        json_object* data = quillon::json::objectMember(value.get(), "data");
        EXPECT_NE(data, nullptr) << text;
        return data ? json_object_to_json_string_ext(data, JSON_C_TO_STRING_PLAIN) : "";
    }

    std::string configPath(const std::string& fileName)
    {
        return CamRootEnvironment::configPath(fileName);
    }
    std::string readConfig(const std::string& fileName)
    {
        return testsupport::readFile(configPath(fileName));
    }

    ScopedRecorder bus;
};

} // namespace quillontest
