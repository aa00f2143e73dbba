#include <stdlib.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "quillon/inputs/vod/vod_object_class_settings.h"
#include "support/temp_dir.h"

namespace quillon
{
namespace
{

class VodSettingsFile : public ::testing::Test
{
protected:
    void SetUp() override { setenv("CAMROOT", root.path().c_str(), 1); }
    void TearDown() override { unsetenv("CAMROOT"); }

    std::string path() const { return root.path() + "/etc/quillon/" + kVodObjectClassFile; }
    void write(const std::string& text)
    {
        root.write("etc/quillon/" + std::string(kVodObjectClassFile), text);
    }
    std::string read() const
    {
        std::ifstream in(path());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    testsupport::TempDir root{"vodsettings"};
};

TEST_F(VodSettingsFile, MissingFileGetsTheSevenDefaults)
{
    VodObjectClassSettings settings;
    VodClassMap map = settings.loadOrCreate();
    ASSERT_EQ(map.size(), 7u);
    EXPECT_EQ(map.at(0), (VodObjectType{0, "human", -1, true, true}));
    EXPECT_EQ(map.at(2), (VodObjectType{2, "motorcycle_bicycle", -1, false, true}));
    EXPECT_FALSE(map.at(6).enabled);
    const std::string text = read();
    EXPECT_NE(text.find(R"({ "VodObjectClassSettings": { "ObjectClasses": [ { "id": 0, "name": )"
                        R"("human", "threshold": -1, "human": true, "enabled": true })"),
              std::string::npos)
        << text;
    // Read back as written.
    VodObjectClassSettings again;
    EXPECT_EQ(again.loadOrCreate(), map);
}

TEST_F(VodSettingsFile, DecodeRules)
{
    struct Case {
        const char* name;
        const char* text;
        std::vector<int> ids;
    } cases[] = {
        {"EmptyArrayKeepsList", R"({"VodObjectClassSettings":{"ObjectClasses":[]}})", {9}},
        {"InvalidEntriesSkipped",
         R"({"VodObjectClassSettings":{"ObjectClasses":[{"id":1},{"name":"x"},)"
         R"({"id":-1,"name":"y"},3,{"id":4,"name":"z"}]}})",
         {4}},
        {"WrongTypesAreAbsent", R"({"VodObjectClassSettings":{"ObjectClasses":{"id":1}}})", {9}},
        {"NotAnObject", R"({"VodObjectClassSettings":[1]})", {9}},
    };
    for (const Case& c : cases) {
        VodObjectClassSettings settings;
        json_object* seed = json_tokener_parse(
            R"({"VodObjectClassSettings":{"ObjectClasses":[{"id":9,"name":"n"}]}})");
        settings.decode(seed, 0);
        json_object_put(seed);
        json_object* parsed = json_tokener_parse(c.text);
        settings.decode(parsed, 0);
        json_object_put(parsed);
        std::vector<int> ids;
        for (const VodObjectType& t : settings.classes())
            ids.push_back(t.id);
        EXPECT_EQ(ids, c.ids) << c.name;
    }
}

TEST_F(VodSettingsFile, EntryDefaults)
{
    write(
        R"({"VodObjectClassSettings":{"ObjectClasses":[{"id":5,"name":"bag","threshold":2.5}]}})");
    VodObjectClassSettings settings;
    VodClassMap map = settings.loadOrCreate();
    ASSERT_EQ(map.size(), 1u);
    // A fractional threshold is not an int: the default -1 applies.
    EXPECT_EQ(map.at(5), (VodObjectType{5, "bag", -1, false, true}));
}

TEST_F(VodSettingsFile, UnreadableFileIsReplaced)
{
    write("{ not json");
    VodObjectClassSettings settings;
    EXPECT_EQ(settings.loadOrCreate().size(), 7u);
    EXPECT_NE(read().find("VodObjectClassSettings"), std::string::npos);
}

TEST_F(VodSettingsFile, NoValidClassUsesDefaultsAndKeepsTheFile)
{
    const std::string text = R"({"VodObjectClassSettings":{"ObjectClasses":[{"id":1}]}})";
    write(text);
    VodObjectClassSettings settings;
    EXPECT_EQ(settings.loadOrCreate().size(), 7u);
    EXPECT_EQ(read(), text);
}

TEST_F(VodSettingsFile, FirstEntryOfAnIdWins)
{
    write(
        R"({"VodObjectClassSettings":{"ObjectClasses":[{"id":1,"name":"a"},{"id":1,"name":"b"}]}})");
    VodObjectClassSettings settings;
    EXPECT_EQ(settings.loadOrCreate().at(1).name, "a");
}

} // namespace
} // namespace quillon
