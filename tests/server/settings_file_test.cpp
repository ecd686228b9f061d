// The settings file on disk: created, changed in place, read back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "settings/profile_file.h"
#include "settings/setting_keys.h"

namespace {

class SettingsFileTest : public testing::Test {
  protected:
    void SetUp() override {
        std::random_device seed;
        directory_ =
            std::filesystem::temp_directory_path() / ("vorlane-settings-" + std::to_string(seed()));
        std::filesystem::create_directories(directory_);
        path_ = (directory_ / kSettingsFileName).string();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
    void WriteFile(const std::string& bytes) const {
        std::ofstream(path_, std::ios::binary) << bytes;
    }

    std::filesystem::path directory_;
    std::string path_;
};

TEST_F(SettingsFileTest, DefaultsWrittenToMissingFileGiveTheKnownFile) {
    for (const SettingRow& row : kSettings) {
        if (!IsWindowSetting(row)) {
            continue;
        }
        ASSERT_TRUE(WriteProfileString(path_, kSettingsSection, row.key, row.defaultValue));
    }
    EXPECT_EQ(ReadFileBytes(path_),
              "[Vorlane]\r\nLocalListenPort=1987\r\nConnectionLimit=100\r\nDestAddr=127.0.0.1\r\n"
              "DestPort=1988\r\nEncodeClient=0\r\nEncodeServer=0\r\nAutoStart=0\r\n"
              "MinHideToTray=0\r\n");
}

TEST_F(SettingsFileTest, MissingFileGivesDefaultsAndIsNotCreated) {
    for (const SettingRow& row : kSettings) {
        EXPECT_EQ(ReadProfileString(path_, kSettingsSection, row.key, row.defaultValue,
                                    kSettingValueBufferSize),
                  row.defaultValue);
    }
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(SettingsFileTest, WriteKeepsUserEditsAndOtherKeys) {
    WriteFile("; mine\n[Vorlane]\nBindAddr=127.0.0.1\nDestPort = 5\n");
    ASSERT_TRUE(WriteProfileString(path_, kSettingsSection, "DestPort", "6"));
    ASSERT_TRUE(WriteProfileString(path_, kSettingsSection, "AutoStart", "1"));
    EXPECT_EQ(ReadFileBytes(path_),
              "; mine\n[Vorlane]\nBindAddr=127.0.0.1\nDestPort=6\nAutoStart=1\r\n");
}

TEST_F(SettingsFileTest, UnreadableOrUnwritablePathsFailQuietly) {
    // A directory where the file should be: reads give the default, writes fail.
    std::filesystem::create_directory(path_);
    EXPECT_EQ(ReadProfileString(path_, kSettingsSection, "DestPort", "1988", 256), "1988");
    EXPECT_FALSE(ReadFileBytes(path_).has_value());
    EXPECT_FALSE(WriteProfileString(path_, kSettingsSection, "DestPort", "1"));

    const std::string inMissingDirectory = (directory_ / "none" / "Setting.ini").string();
    EXPECT_FALSE(WriteProfileString(inMissingDirectory, kSettingsSection, "DestPort", "1"));
}

TEST(SettingKeysTest, RowsAreFoundBySettingAndOnlyTheWindowsAreWindowKeys) {
    static_assert(RowOf(Setting::ConnectionLimit).kind == SettingKind::Number);
    EXPECT_STREQ(RowOf(Setting::AutoStart).key, "AutoStart");
    EXPECT_TRUE(RowOf(Setting::AutoStart).windowKey);
    EXPECT_STREQ(RowOf(Setting::DestAddr).defaultValue, "127.0.0.1");
    EXPECT_STREQ(RowOf(Setting::Engine).key, "Engine");
    EXPECT_FALSE(RowOf(Setting::BindAddr).windowKey);
}

}  // namespace
