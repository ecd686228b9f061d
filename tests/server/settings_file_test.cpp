// The settings file on disk as read back. The window's own save is tested
// where it runs (tests/gui/unit_ui/settings_save_test.cpp).
#include <gtest/gtest.h>

#include <filesystem>
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

    std::filesystem::path directory_;
    std::string path_;
};

TEST_F(SettingsFileTest, MissingFileGivesDefaultsAndIsNotCreated) {
    for (const SettingRow& row : kSettings) {
        EXPECT_EQ(ReadProfileString(path_, kSettingsSection, row.key, row.defaultValue,
                                    kSettingValueBufferSize),
                  row.defaultValue);
    }
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(SettingsFileTest, UnreadablePathsGiveTheDefault) {
    // A directory where the file should be.
    std::filesystem::create_directory(path_);
    EXPECT_EQ(ReadProfileString(path_, kSettingsSection, "DestPort", "1988", 256), "1988");
    EXPECT_FALSE(ReadFileBytes(path_).has_value());
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
