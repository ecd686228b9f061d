// The window's save: its controls written to Setting.ini beside the
// executable through the system's private-profile call, as the window does it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "framework/dialog_items.h"
#include "framework/win32_casts.h"
#include "settings/profile_file.h"
#include "settings/setting_keys.h"
#include "test_app.h"
#include "ui/setting_controls.h"
#include "ui/settings_persistence.h"

namespace {

std::string WithoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// The window's eight controls, each showing its key's default.
class SettingsSaveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_app.Run(GetModuleHandleA(nullptr));
        ASSERT_EQ(CApplication::Current().AppName(), kSettingsSection);
        m_path = SettingsPath();
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
        m_parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                   nullptr, nullptr);
        ASSERT_NE(m_parent, nullptr);
        for (const SettingRow& row : kSettings) {
            if (!IsWindowSetting(row)) {
                continue;
            }
            const bool box = row.kind == SettingKind::Box;
            const int id = ControlOf(row.setting);
            ASSERT_NE(
                CreateWindowExA(0, box ? "Button" : "Edit", "",
                                WS_CHILD | (box ? BS_AUTOCHECKBOX : ES_AUTOHSCROLL), 0, 0, 10, 10,
                                m_parent, ChildIdAsMenu(static_cast<UINT>(id)), nullptr, nullptr),
                nullptr);
            if (box) {
                SetItemChecked(m_parent, id, std::string(row.defaultValue) == "1");
            } else {
                SetItemText(m_parent, id, row.defaultValue);
            }
        }
    }
    void TearDown() override {
        DestroyWindow(m_parent);
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    void WriteFile(const std::string& bytes) const {
        std::ofstream(m_path, std::ios::binary) << bytes;
    }
    // One control's key saved, as the window saves each row.
    bool SaveOne(Setting setting) const {
        const SettingRow& row = RowOf(setting);
        return PersistControl(m_parent, 1, ControlOf(setting), row.key, row.defaultValue,
                              kSettingValueBufferSize);
    }

    TestApp m_app;
    HWND m_parent = nullptr;
    std::string m_path;
};

TEST_F(SettingsSaveTest, DefaultsSavedToMissingFileGiveTheKnownFile) {
    ASSERT_TRUE(PersistSettings(m_parent, PersistDirection::Save));
    EXPECT_EQ(ReadFileBytes(m_path),
              "[Vorlane]\r\nLocalListenPort=1987\r\nConnectionLimit=100\r\nDestAddr=127.0.0.1\r\n"
              "DestPort=1988\r\nEncodeClient=0\r\nEncodeServer=0\r\nAutoStart=0\r\n"
              "MinHideToTray=0\r\n");
}

TEST_F(SettingsSaveTest, SaveKeepsUserEditsAndOtherKeys) {
    WriteFile("; mine\n[Vorlane]\nBindAddr=127.0.0.1\nDestPort = 5\n");
    SetItemText(m_parent, ControlOf(Setting::DestPort), "6");
    SetItemChecked(m_parent, ControlOf(Setting::AutoStart), true);
    ASSERT_TRUE(SaveOne(Setting::DestPort));
    ASSERT_TRUE(SaveOne(Setting::AutoStart));
    // Windows leaves the ends of the lines it did not touch as they were; Wine
    // writes every line anew with CR LF. The lines themselves must be these.
    EXPECT_EQ(WithoutCarriageReturns(ReadFileBytes(m_path).value_or("<no file>")),
              "; mine\n[Vorlane]\nBindAddr=127.0.0.1\nDestPort=6\nAutoStart=1\n");
}

// The window only reads the link key: a save leaves its line as it was.
TEST_F(SettingsSaveTest, SaveLeavesTheLinkKeyAlone) {
    WriteFile("[Vorlane]\r\nLinkKey=q83vASNFZ4mrze8BI0VniavN7wEjRWeJq83vASNFZ4k=\r\n");
    ASSERT_TRUE(PersistSettings(m_parent, PersistDirection::Save));
    EXPECT_EQ(WithoutCarriageReturns(ReadFileBytes(m_path).value_or("<no file>")),
              "[Vorlane]\nLinkKey=q83vASNFZ4mrze8BI0VniavN7wEjRWeJq83vASNFZ4k=\n"
              "LocalListenPort=1987\nConnectionLimit=100\nDestAddr=127.0.0.1\nDestPort=1988\n"
              "EncodeClient=0\nEncodeServer=0\nAutoStart=0\nMinHideToTray=0\n");
}

TEST_F(SettingsSaveTest, UnwritableFileFailsTheSaveQuietly) {
    // A directory where the file should be: the save fails, and nothing throws.
    std::filesystem::create_directory(m_path);
    EXPECT_FALSE(PersistSettings(m_parent, PersistDirection::Save));
    EXPECT_FALSE(ReadFileBytes(m_path).has_value());
}

}  // namespace
