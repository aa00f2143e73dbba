#include <string>

#include <gtest/gtest.h>

#include "quillon/config/settings/settings_file.h"
#include "quillon/config/zones/zone_profile_store.h"
#include "quillon_settings/settings_test_fixture.h"
#include "quillon_zones/zone_test_support.h"

using namespace quillon;
using namespace quillontest;

namespace
{

class ZoneStoreTest : public SettingsTest
{
protected:
    int add(const std::string& params, const ZoneEditContext& context = activeContext())
    {
        auto object = parseJson(params);
        json_object* result = nullptr;
        int code = store.add(object.get(), &result, context);
        lastReply = plain(result);
        json_object_put(result);
        return code;
    }
    int update(const std::string& params, const ZoneEditContext& context = activeContext())
    {
        return store.update(parseJson(params).get(), context);
    }
    int remove(const std::string& params, bool& changed)
    {
        return store.remove(parseJson(params).get(), changed);
    }
    std::string get(int id, const ZoneEditContext& context = activeContext())
    {
        auto params = parseJson("{\"id\": " + std::to_string(id) + "}");
        json_object* result = nullptr;
        int code = store.get(params.get(), &result, context);
        std::string text = code == 0 ? plain(result) : std::to_string(code);
        json_object_put(result);
        return text;
    }
    // Loads `text` as profiles.conf into a fresh store.
    int loadFile(const std::string& text)
    {
        writeConfig("profiles.conf", text);
        store = ZoneProfileStore();
        testing::internal::CaptureStderr();
        loadSettings(store, "profiles.conf");
        log = testing::internal::GetCapturedStderr();
        return int(store.profiles().size());
    }

    static constexpr const char* kTriangle = R"("px_polygon": [0.25, 0.25, 0.75, 0.25, 0.5, 0.75])";

    ZoneProfileStore store;
    std::string lastReply;
    std::string log;
};

struct PolygonCase {
    const char* polygon;
    int code;
    size_t points;
};

TEST_F(ZoneStoreTest, AddChecksTheCoordinateArray)
{
    const PolygonCase cases[] = {
        {"[0.1, 0.1, 0.9, 0.1, 0.5, 0.9]", 0, 3},
        {"[0.1, 0.1, 0.9, 0.1, 0.5, 0.9, 0.2, 0.2, 0.3, 0.3, 0.4, 0.4, 0.5, 0.5, 0.6, 0.6, 0.7, "
         "0.7, 0.8, 0.8]",
         0, 10},
        {"[0.1, 0.1, 0.9, 0.1, 0.5, 0.9, 0.2, 0.2, 0.3, 0.3, 0.4, 0.4, 0.5, 0.5, 0.6, 0.6, 0.7, "
         "0.7, 0.8, 0.8, 0.9, 0.9]",
         1104, 0},
        {"[0.1, 0.1, 0.9, 0.1, 0.5]", 1103, 0},
        {"[0.1, 0.1, 0.9, 0.1]", 1105, 0},
        {"[]", 1103, 0},
        // Values outside the picture are kept; non-finite ones poison every
        // later conversion and are refused.
        {"[-0.5, 0.1, 1.5, 0.1, 0.5, 2.0]", 0, 3},
        {"[NaN, 0.1, 0.9, 0.1, 0.5, 0.9]", 1103, 0},
        {"[0.1, 0.1, Infinity, 0.1, 0.5, 0.9]", 1103, 0},
        // An integer-typed value skips its pair: 2 points left are no zone,
        // none at all is a zone without points.
        {"[0.1, 0.1, 1, 0.1, 0.5, 0.9]", 1105, 0},
        {"[1, 0.1, 1, 0.1, 0, 0.9]", 1109, 0},
        {"[0.1, 0.1, 1, 0.1, 0.5, 0.9, 0.2, 0.2]", 0, 3},
    };
    for (const auto& c : cases) {
        store = ZoneProfileStore();
        testing::internal::CaptureStderr();
        int code = add(std::string(R"({"px_polygon": )") + c.polygon + "}");
        log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(code, c.code) << c.polygon;
        auto zone = store.find(1);
        EXPECT_EQ(zone ? zone->points.size() : 0u, c.points) << c.polygon;
        if (std::string(c.polygon) == "[]") {
            EXPECT_NE(log.find("Coordinates array is empty\n"), std::string::npos) << log;
        }
        if (std::string(c.polygon).find(", 1,") != std::string::npos) {
            EXPECT_NE(log.find("Coordinate pair 1 skipped"), std::string::npos) << log;
        }
    }
}

TEST_F(ZoneStoreTest, AddConvertsThePictureToPanTiltAndNamesTheZone)
{
    ASSERT_EQ(add(R"({"px_polygon": [0.5, 0.5, 1.0, 0.5, 0.5, 0.0], "preset": 4})"), 0);
    EXPECT_EQ(lastReply, R"({"id":1,"name":"profile_1"})");
    auto zone = store.find(1);
    ASSERT_TRUE(zone);
    EXPECT_EQ(zone->points, (std::vector<Point>{{0, 0}, {30, 0}, {0, 17}}));
    EXPECT_EQ(zone->preset, 4);
    EXPECT_TRUE(zone->enabled);
    EXPECT_EQ(zoneMessages(*bus.recorder).size(), 1u);

    // Refusals leave the store alone.
    EXPECT_EQ(add(R"({"id": 2, "px_polygon": [0.5, 0.5, 1.0, 0.5, 0.5, 0.0]})"), 1111);
    EXPECT_EQ(add("{\"name\": \"x\"}"), 1109);
    ZoneEditContext inactive = activeContext();
    inactive.active = false;
    EXPECT_EQ(add(std::string("{") + kTriangle + "}", inactive), 1110);
    ZoneEditContext noPosition = activeContext();
    noPosition.camera.valid = false;
    testing::internal::CaptureStderr();
    EXPECT_EQ(add(std::string("{") + kTriangle + "}", noPosition), 1108);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Invalid PTZ data - Zone not changed\n"),
              std::string::npos);
    EXPECT_EQ(store.profiles().size(), 1u);
    EXPECT_EQ(zoneMessages(*bus.recorder).size(), 1u);
}

TEST_F(ZoneStoreTest, NextFreeIdFillsGapsUpToTheMaximum)
{
    store.setMaximum(4);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(add(std::string("{") + kTriangle + "}"), 0);
    bool changed = false;
    ASSERT_EQ(remove("{\"id\": 3}", changed), 0);
    EXPECT_EQ(store.nextFreeId(), 3);
    ASSERT_EQ(add(std::string("{") + kTriangle + "}"), 0);
    EXPECT_EQ(lastReply, R"({"id":3,"name":"profile_3"})");

    testing::internal::CaptureStderr();
    EXPECT_EQ(add(std::string("{") + kTriangle + "}"), 1102);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Zone list full: 4\n"),
              std::string::npos);

    // A lowered maximum keeps the zones beyond it.
    store.setMaximum(2);
    EXPECT_EQ(store.profiles().size(), 4u);
    EXPECT_EQ(store.nextFreeId(), -1);
}

TEST_F(ZoneStoreTest, FailedUpdateLeavesTheZoneUntouched)
{
    ASSERT_EQ(add(std::string(R"({"name": "door", "preset": 2, )") + kTriangle + "}"), 0);
    const ZoneProfileSettings before = *store.find(1);
    const std::string refused[] = {
        // polygon checks, with the other fields changed too
        R"({"id": 1, "name": "x", "preset": 5, "enabled": false, "px_polygon": [0.1, 0.2]})",
        // two of three pairs integer-typed: one point is no zone
        R"({"id": 1, "name": "x", "px_polygon": [0.1, 0.1, 1, 0, 0, 1]})",
        R"({"id": 1, "px_polygon": [0, 0, 1, 0, 1, 1]})",
        R"({"id": 1, "px_polygon": [NaN, 0.1, 0.9, 0.1, 0.5, 0.9]})",
        // ids that are not stored; 2^32 + 1 must not land on zone 1
        R"({"id": 4294967297, "name": "x"})",
        R"({"id": 7, "name": "x"})",
        R"({"id": 0, "name": "x"})",
        R"({"id": "1", "name": "x"})",
        R"({"name": "x"})",
    };
    const int codes[] = {1105, 1105, 1105, 1103, 1101, 1101, 1101, 1101, 1101};
    bus->clear();
    testing::internal::CaptureStderr();
    for (size_t i = 0; i < std::size(refused); ++i)
        EXPECT_EQ(update(refused[i]), codes[i]) << refused[i];
    log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(*store.find(1), before);
    EXPECT_TRUE(zoneMessages(*bus.recorder).empty());
    EXPECT_NE(log.find("Can't update profile with ID 7, it doesn't exist!\n"), std::string::npos);
    EXPECT_NE(log.find("Can't update a profile with ID 0, invalid id.\n"), std::string::npos);

    ZoneEditContext inactive = activeContext();
    inactive.active = false;
    EXPECT_EQ(update(R"({"id": 1, "enabled": false})", inactive), 1110);

    // Without a polygon only the other fields change; no position needed.
    ZoneEditContext noPosition = activeContext();
    noPosition.camera.valid = false;
    ASSERT_EQ(update(R"({"id": 1, "enabled": false, "name": "gate"})", noPosition), 0);
    auto after = store.find(1);
    EXPECT_EQ(after->points, before.points);
    EXPECT_EQ(after->name, "gate");
    EXPECT_FALSE(after->enabled);
    EXPECT_EQ(after->preset, 2);
    ASSERT_EQ(zoneMessages(*bus.recorder).size(), 1u);
    EXPECT_FALSE(zoneMessages(*bus.recorder)[0].enabled);
}

TEST_F(ZoneStoreTest, DeletePublishesAnEmptyZoneAndKeepsWhatAListDeletedBeforeFailing)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(add(std::string("{") + kTriangle + "}"), 0);
    bus->clear();
    bool changed = false;
    testing::internal::CaptureStderr();
    EXPECT_EQ(remove(R"({"id": [2, "x", 7, 3]})", changed), 1101);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "Can't delete profile with ID 7, it doesn't exist!\n"),
              std::string::npos);
    EXPECT_TRUE(changed);
    EXPECT_FALSE(store.find(2));
    EXPECT_TRUE(store.find(3));
    auto messages = zoneMessages(*bus.recorder);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].id, 2);
    EXPECT_TRUE(messages[0].points.empty());
    EXPECT_FALSE(messages[0].enabled);

    EXPECT_EQ(remove(R"({"id": "3"})", changed), 1005);
    EXPECT_FALSE(changed);
    EXPECT_EQ(remove(R"({"id": 4294967297})", changed), 1101);
    EXPECT_EQ(remove(R"({"id": 1})", changed), 0);
    EXPECT_TRUE(changed);
    EXPECT_EQ(store.profiles().size(), 1u);
}

TEST_F(ZoneStoreTest, EncodingNeedsAPositionOnlyForPictureCoordinates)
{
    ASSERT_EQ(add(R"({"px_polygon": [0.5, 0.5, 1.0, 0.5, 0.5, 0.0], "preset": 3})"), 0);
    ZoneEditContext context = activeContext();
    context.presetKnown = [](int preset) { return preset == 3; };
    EXPECT_EQ(get(1, context),
              R"({"px_polygon":[0.5,0.5,1.0,0.5,0.5,0.0],"presetStatus":1,)"
              R"("id":1,"name":"profile_1","enabled":true,"preset":3,"zoneType":0})");
    EXPECT_EQ(get(2), "1101");

    // The camera turned 120 degrees: the zone is not in view.
    EXPECT_EQ(
        get(1, activeContext(120.0f)),
        R"({"presetStatus":0,"id":1,"name":"profile_1","enabled":true,"preset":3,"zoneType":0})");

    ZoneEditContext noPosition = activeContext();
    noPosition.camera.valid = false;
    EXPECT_EQ(get(1, noPosition), "1110");
    json::JsonPtr out(json_object_new_object());
    EXPECT_EQ(store.list(ZoneEncoding::Api, out.get(), noPosition), 1110);
    EXPECT_EQ(plain(out.get()), "{}");
    ASSERT_EQ(store.list(ZoneEncoding::Api, out.get(), noPosition, false), 0);
    EXPECT_EQ(plain(out.get()), R"({"profiles":[{"presetStatus":0,"id":1,"name":"profile_1",)"
                                R"("enabled":true,"preset":3,"zoneType":0}]})");
    json::JsonPtr file(json_object_new_object());
    ASSERT_EQ(store.toJson(file.get(), kToFile), 0);
    EXPECT_EQ(plain(file.get()),
              R"({"profiles":[{"pt_polygon":[0.0,0.0,30.0,0.0,0.0,17.0],)"
              R"("id":1,"name":"profile_1","enabled":true,"preset":3,"zoneType":0}]})");
}

TEST_F(ZoneStoreTest, SetEnabledAnswersWhetherTheZoneExists)
{
    ASSERT_EQ(add(std::string("{") + kTriangle + "}"), 0);
    bus->clear();
    EXPECT_EQ(store.setEnabled(1, false), 1);
    EXPECT_FALSE(store.find(1)->enabled);
    testing::internal::CaptureStderr();
    EXPECT_EQ(store.setEnabled(0, true), 0);
    EXPECT_EQ(store.setEnabled(5, true), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "Can't update profile with ID 5, it doesn't exist!\n"),
              std::string::npos);
    EXPECT_EQ(zoneMessages(*bus.recorder).size(), 1u);
}

constexpr const char* kGoodZone =
    R"({"pt_polygon": [-10.0, -5.0, 10.0, -5.0, 0.0, 95.0], "id": 2, "name": "yard", "enabled": false, "preset": 3, "zoneType": 1})";

TEST_F(ZoneStoreTest, LoadKeepsGoodZonesBesideBadOnesAndTheRejectedFile)
{
    // Bad elements (id 0, id beyond int, no id, integer pairs, NaN, no
    // polygon, not an object) around a good one; tilt beyond 90 and a
    // zero-area ring are stored as drawn.
    const std::string text =
        std::string(R"({"profiles": [)") +
        R"({"pt_polygon": [1.0, 1.0, 2.0, 2.0, 3.0, 3.0], "id": 0},)" +
        R"({"pt_polygon": [1.0, 1.0, 2.0, 2.0, 3.0, 3.0], "id": 4294967298},)" +
        R"({"pt_polygon": [1.0, 1.0, 2.0, 2.0, 3.0, 3.0]},)" + kGoodZone + "," +
        R"({"pt_polygon": [1, 1, 2.0, 2.0, 3.0, 3.0], "id": 5},)" +
        R"({"pt_polygon": [NaN, 1.0, 2.0, 2.0, 3.0, 3.0], "id": 6},)" + R"({"id": 7}, 5,)" +
        R"({"pt_polygon": [1.0, 1.0, 2.0, 2.0, 3.0, 3.0], "id": 8}]})";
    EXPECT_EQ(loadFile(text), 2);
    EXPECT_NE(log.find("Zone without valid ID: 0/9\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Zone without valid ID: 1/9\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Zone without valid ID: 2/9\n"), std::string::npos) << log;
    auto yard = store.find(2);
    ASSERT_TRUE(yard);
    EXPECT_EQ(yard->points, (std::vector<Point>{{-10, -5}, {10, -5}, {0, 95}}));
    EXPECT_EQ(yard->name, "yard");
    EXPECT_FALSE(yard->enabled);
    EXPECT_EQ(yard->preset, 3);
    EXPECT_EQ(yard->zoneType, 1);
    EXPECT_EQ(store.find(8)->name, "profile_8");
    EXPECT_EQ(store.find(8)->preset, -1);
    // The last element loaded: no repair, the file stays as it was.
    EXPECT_EQ(readConfig("profiles.conf"), text);
    EXPECT_FALSE(configExists("profiles.conf.bad"));

    // The same with a bad element last: the file is rewritten with the good
    // zones and the old text is kept.
    const std::string badLast = std::string(R"({"profiles": [)") + kGoodZone + R"(, {"id": 0}]})";
    EXPECT_EQ(loadFile(badLast), 1);
    EXPECT_EQ(readConfig("profiles.conf.bad"), badLast);
    EXPECT_NE(readConfig("profiles.conf").find(R"("id": 2, "name": "yard")"), std::string::npos);
}

TEST_F(ZoneStoreTest, UnreadableFilesAreKeptAsBad)
{
    for (const std::string& text : {"{\"profiles\": [" + std::string(kGoodZone), std::string("[]"),
                                    std::string(R"({"profiles": {}})")}) {
        EXPECT_EQ(loadFile(text), 0) << text;
        EXPECT_EQ(readConfig("profiles.conf.bad"), text);
        EXPECT_EQ(readConfig("profiles.conf"), R"({ "profiles": [ ] })");
    }
    // An empty list is a good file.
    root.write("etc/quillon/profiles.conf.bad", "old");
    EXPECT_EQ(loadFile(R"({"profiles": []})"), 0);
    EXPECT_EQ(readConfig("profiles.conf.bad"), "old");
}

// A record whose encoding fails.
class UnencodableRecord : public CopyableSettings<UnencodableRecord>
{
public:
    UnencodableRecord() : CopyableSettings<UnencodableRecord>("broken") {}
    int toJson(json_object*, int) override { return 1105; }
};

TEST_F(ZoneStoreTest, SaveWritesNothingWhenTheRecordCannotEncode)
{
    writeConfig("broken.conf", "old");
    UnencodableRecord record;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(saveSettings(record, "broken.conf"));
    EXPECT_NE(
        testing::internal::GetCapturedStderr().find("Could not encode settings: broken.conf\n"),
        std::string::npos);
    EXPECT_EQ(readConfig("broken.conf"), "old");
}

} // namespace
