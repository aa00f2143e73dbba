#include <sys/stat.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "quillon/config/geometry/camera_position.h"
#include "quillon/config/settings/settings_files.h"
#include "quillon/config/zones/zone_profiles_file.h"
#include "quillon_api/api_test_support.h"

using namespace quillon;
using quillontest::ApiTest;

namespace
{

bool exists(const std::string& path)
{
    struct stat st {
    };
    return stat(path.c_str(), &st) == 0;
}

// The profile methods against the process-wide store, with tracking active
// and a camera at pan 10, tilt 0 (60 x 34 degrees, linear conversions).
class ProfileMethodsTest : public ApiTest
{
protected:
    void SetUp() override
    {
        ApiTest::SetUp();
        ASSERT_EQ(codeOf(call("setApplicationSettings", R"({"service": {"active": true}})")), 0);
        PositionRecord record;
        record.pan = 10.0f;
        record.horizontalFov = 60.0f;
        record.verticalFov = 34.0f;
        setCameraPosition(record);
        // Start from no zones.
        auto& file = zoneProfilesFile();
        std::lock_guard<std::mutex> hold(zoneProfilesMutex());
        file.settings() = ZoneProfileStore();
        file.save();
    }
    void TearDown() override
    {
        invalidateCameraPosition();
        call("setApplicationSettings", R"({"service": {"active": false}})");
    }
};

TEST_F(ProfileMethodsTest, EditsReachTheFileAndFailuresWriteNothing)
{
    EXPECT_EQ(dataOf(call("addProfile", R"({"px_polygon": [0.5, 0.5, 1.0, 0.5, 0.5, 0.0],
                                           "name": "gate"})")),
              R"({"id":1,"name":"gate"})");
    EXPECT_NE(
        readConfig("profiles.conf").find(R"("pt_polygon": [ 10.0, 0.0, 40.0, 0.0, 10.0, 17.0 ])"),
        std::string::npos)
        << readConfig("profiles.conf");
    EXPECT_EQ(codeOf(call("updateProfile", R"({"id": 1, "enabled": false})")), 0);
    EXPECT_NE(readConfig("profiles.conf").find(R"("enabled": false)"), std::string::npos);

    const std::string saved = readConfig("profiles.conf");
    EXPECT_EQ(codeOf(call("updateProfile", R"({"id": 1, "px_polygon": [0.5, 0.5]})")), 1105);
    EXPECT_EQ(codeOf(call("updateProfile", R"({"id": 9, "name": "x"})")), 1101);
    EXPECT_EQ(codeOf(call("deleteProfile", R"({"id": 9})")), 1101);
    EXPECT_EQ(codeOf(call("addProfile", R"({"id": 3})")), 1111);
    EXPECT_EQ(codeOf(call("getProfile", R"({"id": 9})", 0)), 1101);
    EXPECT_EQ(readConfig("profiles.conf"), saved);

    // Reading needs no higher level; changing needs operator.
    EXPECT_EQ(codeOf(call("getProfile", R"({"id": 1})", 0)), 0);
    EXPECT_EQ(codeOf(call("deleteProfile", R"({"id": 1})", 0)), 1003);

    // A list that fails half-way keeps the deletions it made, in the file too.
    ASSERT_EQ(codeOf(call("addProfile", R"({"px_polygon": [0.1, 0.1, 0.2, 0.1, 0.2, 0.2]})")), 0);
    EXPECT_EQ(codeOf(call("deleteProfile", R"({"id": [2, 7]})")), 1101);
    EXPECT_EQ(readConfig("profiles.conf").find(R"("id": 2)"), std::string::npos);
    EXPECT_NE(readConfig("profiles.conf").find(R"("id": 1)"), std::string::npos);
}

TEST_F(ProfileMethodsTest, ZonesAreListedWithoutAPosition)
{
    ASSERT_EQ(codeOf(call("addProfile", R"({"px_polygon": [0.5, 0.5, 1.0, 0.5, 0.5, 0.0]})")), 0);
    auto settings = reply(call("getAutotrackingSettings", "{}", 0));
    json_object* profiles =
        json::arrayMember(json::objectMember(settings.get(), "data"), "profiles");
    ASSERT_NE(profiles, nullptr);
    ASSERT_EQ(json_object_array_length(profiles), 1u);
    EXPECT_NE(json::arrayMember(json_object_array_get_idx(profiles, 0), "px_polygon"), nullptr);

    invalidateCameraPosition();
    settings = reply(call("getAutotrackingSettings", "{}", 0));
    profiles = json::arrayMember(json::objectMember(settings.get(), "data"), "profiles");
    ASSERT_NE(profiles, nullptr);
    EXPECT_EQ(json_object_to_json_string_ext(json_object_array_get_idx(profiles, 0),
                                             JSON_C_TO_STRING_PLAIN),
              std::string(R"({"presetStatus":0,"id":1,"name":"profile_1","enabled":true,)"
                          R"("preset":-1,"zoneType":0})"));
    EXPECT_EQ(codeOf(call("getProfile", R"({"id": 1})", 0)), 1110);
    EXPECT_EQ(codeOf(call("addProfile", R"({"px_polygon": [0.1, 0.1, 0.2, 0.1, 0.2, 0.2]})")),
              1108);
}

TEST_F(ProfileMethodsTest, SetEnabledAndTheMaximumGoThroughTheLock)
{
    ASSERT_EQ(codeOf(call("addProfile", R"({"px_polygon": [0.5, 0.5, 1.0, 0.5, 0.5, 0.0]})")), 0);
    EXPECT_EQ(setZoneProfileEnabled(1, false), 1);
    // Saved at once, not left to the next API edit.
    EXPECT_NE(readConfig("profiles.conf").find(R"("id": 1, "name": "profile_1", "enabled": false)"),
              std::string::npos)
        << readConfig("profiles.conf");
    EXPECT_EQ(setZoneProfileEnabled(2, false), 0);
    EXPECT_NE(dataOf(call("getProfile", R"({"id": 1})", 0)).find(R"("enabled":false)"),
              std::string::npos);
    setZoneProfileMaximum(1);
    EXPECT_EQ(codeOf(call("addProfile", R"({"px_polygon": [0.1, 0.1, 0.2, 0.1, 0.2, 0.2]})")),
              1102);
    setZoneProfileMaximum(ZoneProfileStore::kDefaultMaximum);
    EXPECT_FALSE(exists(configPath("profiles.conf.bad")));
}

// API edits on the endpoint thread, the zone activation event on another
// and publishAll on a third share the store (run under ThreadSanitizer too).
TEST_F(ProfileMethodsTest, ConcurrentEditsEnabledFlagsAndPublishing)
{
    std::atomic<bool> done{false};
    std::thread events([&] {
        for (int i = 0; !done; ++i)
            setZoneProfileEnabled(1 + i % 3, i % 2 == 0);
    });
    std::thread publisher([&] {
        while (!done)
            publishAll();
    });
    for (int i = 0; i < 60; ++i) {
        call("addProfile", R"({"px_polygon": [0.1, 0.1, 0.9, 0.1, 0.5, 0.9]})");
        call("updateProfile", R"({"id": 2, "name": "n)" + std::to_string(i) + R"("})");
        call("deleteProfile", R"({"id": [1, 3]})");
    }
    done = true;
    events.join();
    publisher.join();
    auto& file = zoneProfilesFile();
    std::lock_guard<std::mutex> hold(zoneProfilesMutex());
    json::JsonPtr out(json_object_new_object());
    EXPECT_EQ(file.settings().list(ZoneEncoding::File, out.get(), ZoneEditContext{}), 0);
    EXPECT_LE(file.settings().profiles().size(), 3u);
}

} // namespace
