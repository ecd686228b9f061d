// Which controls the settings load handles, and where the settings file lives.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "framework/dialog_items.h"
#include "framework/win32_casts.h"
#include "resource.h"
#include "test_app.h"
#include "ui/setting_controls.h"
#include "ui/settings_persistence.h"

namespace {

class SettingsControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_app.Run(GetModuleHandleA(nullptr));
        m_parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                   nullptr, nullptr);
        ASSERT_NE(m_parent, nullptr);
    }
    void TearDown() override { DestroyWindow(m_parent); }

    void AddChild(const char* className, DWORD style, int id) {
        ASSERT_NE(CreateWindowExA(0, className, "", WS_CHILD | style, 0, 0, 10, 10, m_parent,
                                  ChildIdAsMenu(static_cast<UINT>(id)), nullptr, nullptr),
                  nullptr);
    }

    TestApp m_app;
    HWND m_parent = nullptr;
};

TEST_F(SettingsControlTest, LoadsEditFieldsAndCheckingButtonsOnly) {
    struct Case {
        const char* className;
        DWORD style;
        bool handled;
    };
    const Case cases[] = {
        {"Edit", ES_AUTOHSCROLL, true},
        {"Button", BS_AUTOCHECKBOX, true},
        {"Button", BS_CHECKBOX, true},
        {"Button", BS_AUTO3STATE, true},
        {"Button", BS_AUTORADIOBUTTON, true},
        {"Button", BS_RADIOBUTTON, false},  // none of the bits 0x0B
        {"Button", BS_PUSHBUTTON, false},
        {"Button", BS_DEFPUSHBUTTON, true},  // bit 0 set: taken as a check control
        {"Static", SS_LEFT, false},
        {"ComboBox", CBS_DROPDOWN, false},
    };
    int id = 100;
    for (const Case& c : cases) {
        AddChild(c.className, c.style, ++id);
        EXPECT_EQ(PersistControl(m_parent, 0, id, "NoSuchKey", "1", 256), c.handled)
            << c.className << " style " << c.style;
    }
    EXPECT_FALSE(PersistControl(m_parent, 0, 999, "NoSuchKey", "1", 256)) << "missing control";
}

TEST_F(SettingsControlTest, LoadedDefaultsBecomeTextAndCheckStates) {
    AddChild("Edit", ES_MULTILINE, 1);
    AddChild("Button", BS_AUTOCHECKBOX, 2);
    AddChild("Button", BS_AUTOCHECKBOX, 3);
    AddChild("Button", BS_AUTOCHECKBOX, 4);
    SetItemChecked(m_parent, 3, true);
    SetItemChecked(m_parent, 4, true);

    ASSERT_TRUE(PersistControl(m_parent, 0, 1, "NoSuchKey", "a#newline#b#newline#", 256));
    ASSERT_TRUE(PersistControl(m_parent, 0, 2, "NoSuchKey", "1", 256));
    ASSERT_TRUE(PersistControl(m_parent, 0, 3, "NoSuchKey", "01", 256));  // not exactly "1"
    ASSERT_TRUE(PersistControl(m_parent, 0, 4, "NoSuchKey", "yes", 256));

    EXPECT_EQ(GetItemText(m_parent, 1), "a\r\nb\r\n");
    EXPECT_TRUE(IsItemChecked(m_parent, 2));
    EXPECT_FALSE(IsItemChecked(m_parent, 3));
    EXPECT_FALSE(IsItemChecked(m_parent, 4));
}

TEST(SettingControlsTest, OnlyTheWindowsSettingsHaveControls) {
    EXPECT_EQ(ControlOf(Setting::AutoStart), IDC_AUTO_START);
    EXPECT_EQ(ControlOf(Setting::BindAddr), 0);
}

TEST(SettingsPath, CutsAtTheLastRealBackslash) {
    struct Case {
        const char* modulePath;
        UINT codePage;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\Tools\\Vorlane\\Vorlane.exe", 1252, "C:\\Tools\\Vorlane\\Setting.ini"},
        {"Vorlane.exe", 1252, "Vorlane.exeSetting.ini"},
        // 0x95 0x5C is one double-byte character whose second byte is a backslash.
        {"C:\\dir\\\x95\x5C.exe", 932, "C:\\dir\\Setting.ini"},
        {"C:\\\x95\x5C\\Vorlane.exe", 932, "C:\\\x95\x5C\\Setting.ini"},
        // In a single-byte code page the same byte is a backslash.
        {"C:\\dir\\\x95\x5C.exe", 1252, "C:\\dir\\\x95\\Setting.ini"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SettingsPathBeside(c.modulePath, c.codePage), c.expected) << c.modulePath;
    }
}

}  // namespace
