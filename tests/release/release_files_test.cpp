// The example Setting.ini and the README of the Windows zip, held against the
// settings table, so that a changed key or default cannot leave them behind.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "settings/ini_document.h"
#include "settings/profile_file.h"
#include "settings/setting_keys.h"

namespace {

const std::string kFolder = VORLANE_RELEASE_FILES;

// The source files end lines in LF; the build turns them into CR LF.
std::string WithLfLineEnds(std::string text) {
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

TEST(ReleaseFilesTest, ExampleSettingsAreWhatTheWindowWritesOnItsFirstClose) {
    IniDocument written = IniDocument::Parse("");
    for (const SettingRow& row : kSettings) {
        if (!IsWindowSetting(row)) {
            continue;
        }
        written.Set(kSettingsSection, row.key, row.defaultValue);
    }
    const auto example = ReadFileBytes(kFolder + "/Setting.ini");
    ASSERT_TRUE(example.has_value());
    EXPECT_EQ(*example, WithLfLineEnds(written.Serialize()));
}

TEST(ReleaseFilesTest, ReadmeListsEveryWindowKeyWithItsDefault) {
    const auto readme = ReadFileBytes(kFolder + "/README.txt.in");
    ASSERT_TRUE(readme.has_value());
    for (const SettingRow& row : kSettings) {
        if (!IsWindowSetting(row)) {
            continue;
        }
        bool listed = false;
        std::istringstream lines(*readme);
        for (std::string line; std::getline(lines, line) && !listed;) {
            std::istringstream words(line);
            std::string key;
            std::string value;
            listed = (words >> key >> value) && key == row.key && value == row.defaultValue;
        }
        EXPECT_TRUE(listed) << row.key << " with its default " << row.defaultValue;
    }
}

}  // namespace
