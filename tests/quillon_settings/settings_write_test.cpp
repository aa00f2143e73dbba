#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "quillon/config/settings/json_values.h"
#include "quillon/config/settings/settings_file.h"
#include "quillon/config/settings/tracker_settings.h"
#include "quillon_settings/settings_test_fixture.h"

using namespace quillon;
using quillontest::SettingsTest;

using SettingsWriteTest = SettingsTest;

TEST_F(SettingsWriteTest, CreatesTheDirectoryAndLeavesNoTemporaryFile)
{
    EXPECT_FALSE(configExists(""));
    ASSERT_TRUE(saveSettingsText("a.conf", "{}"));
    EXPECT_EQ(readConfig("a.conf"), "{}");
    EXPECT_FALSE(configExists("a.conf.tmp"));
}

TEST_F(SettingsWriteTest, PathLongerThan240CharactersIsNeverWritten)
{
    // The limit applies to the full path that would be written.
    size_t prefix = (std::string(root.path()) + "/etc/quillon/").size();
    ASSERT_LT(prefix, 200u);
    std::string fits(240 - prefix, 'f');
    std::string tooLong(241 - prefix, 'g');

    EXPECT_TRUE(saveSettingsText(fits, "{}"));
    EXPECT_TRUE(configExists(fits));

    testing::internal::CaptureStderr();
    EXPECT_FALSE(saveSettingsText(tooLong, "{}"));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("saveToFile does not support file path longer than 240 characters: "),
              std::string::npos)
        << log;
    EXPECT_FALSE(configExists(tooLong));
    EXPECT_FALSE(configExists(tooLong + ".tmp"));

    // A holder with such a name still loads its defaults; it just cannot save.
    SettingsFile<TrackerSettings> file(tooLong);
    EXPECT_FALSE(file.save());
    EXPECT_FALSE(configExists(tooLong));
}

TEST_F(SettingsWriteTest, FailedWriteKeepsTheOldFile)
{
    writeConfig("settings.conf", "old");
    // The temporary file cannot be created: a directory is in its place.
    ASSERT_EQ(mkdir((root.path() + "/etc/quillon/settings.conf.tmp").c_str(), 0755), 0);
    root.write("etc/quillon/settings.conf.tmp/keep", "x");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(saveSettingsText("settings.conf", "new"));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Could not write file " + root.path() + "/etc/quillon/settings.conf.tmp : "),
              std::string::npos)
        << log;
    EXPECT_EQ(readConfig("settings.conf"), "old");
}

TEST_F(SettingsWriteTest, FailedRenameKeepsTheOldContent)
{
    // The target is a non-empty directory: rename fails, nothing is torn.
    root.write("etc/quillon/settings.conf/keep", "x");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(saveSettingsText("settings.conf", "new"));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Rename file " + root.path() + "/etc/quillon/settings.conf.tmp to " +
                       root.path() + "/etc/quillon/settings.conf error -1\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(root.read("etc/quillon/settings.conf/keep"), "x");
    EXPECT_FALSE(configExists("settings.conf.tmp"));
}

// A reader running alongside repeated saves only ever sees one of the complete
// contents, never a truncated or mixed file.
TEST_F(SettingsWriteTest, ConcurrentReaderNeverSeesATornFile)
{
    const std::string a(64 * 1024, 'a');
    const std::string b(96 * 1024, 'b');
    ASSERT_TRUE(saveSettingsText("big.conf", a));
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::atomic<int> reads{0};
    std::string path = root.path() + "/etc/quillon/big.conf";
    std::thread reader([&] {
        while (!done) {
            std::string text = testsupport::readFile(path);
            if (text != a && text != b)
                ++bad;
            ++reads;
        }
    });
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(saveSettingsText("big.conf", i % 2 ? a : b));
    done = true;
    reader.join();
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
    EXPECT_GT(reads, 0);
}
