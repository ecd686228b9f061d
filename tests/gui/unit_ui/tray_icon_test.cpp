// The record the tray icon hands to the shell, and the events it ignores.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "ui/tray_icon.h"

namespace {

class TrayIconTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_owner = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
        ASSERT_NE(m_owner, nullptr);
    }
    void TearDown() override { DestroyWindow(m_owner); }
    HWND m_owner = nullptr;
};

TEST_F(TrayIconTest, RecordHasTheFirstLayoutAndABoundedTooltip) {
    CTrayIcon icon;
    const std::string longTip(100, 'T');
    icon.AddToTray(m_owner, 1410, longTip.c_str(), LoadIconA(nullptr, IDI_APPLICATION), 138);
    const NOTIFYICONDATAA& data = icon.Data();
    // The first layout: 88 bytes on 32-bit Windows, up to the 64-byte tooltip on 64-bit.
    const unsigned firstLayout = sizeof(void*) == 4 ? 88u : offsetof(NOTIFYICONDATAA, szTip) + 64u;
    EXPECT_EQ(data.cbSize, firstLayout);
    EXPECT_EQ(data.hWnd, m_owner);
    EXPECT_EQ(data.uID, 138u);
    EXPECT_EQ(data.uFlags, 7u);
    EXPECT_EQ(data.uCallbackMessage, 1410u);
    // 63 characters and the terminator fill the 64 bytes the shell reads.
    EXPECT_EQ(std::string(data.szTip), std::string(63, 'T'));
    icon.RemoveFromTray();
    EXPECT_FALSE(icon.IsInTray());
}

TEST_F(TrayIconTest, NoOwnerWindowMeansNoIcon) {
    CTrayIcon icon;
    EXPECT_FALSE(icon.AddToTray(nullptr, 1410, "Vorlane", nullptr, 138));
    EXPECT_FALSE(icon.IsInTray());
}

// What a restarted shell needs: the same icon added again from the record.
TEST_F(TrayIconTest, AddsItselfAgainAfterTheShellLostIt) {
    CTrayIcon icon;
    EXPECT_FALSE(icon.AddAgain()) << "nothing to add before the first add";
    if (!icon.AddToTray(m_owner, 1410, "Vorlane", LoadIconA(nullptr, IDI_APPLICATION), 138)) {
        GTEST_SKIP() << "no notification area in this session";
    }
    NOTIFYICONDATAA lost = icon.Data();
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &lost));
    EXPECT_TRUE(icon.AddAgain());
    EXPECT_TRUE(icon.AddAgain()) << "a second announcement finds the icon in place";
    NOTIFYICONDATAA present = icon.Data();
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &present));
    icon.RemoveFromTray();
}

TEST_F(TrayIconTest, AnswersPerEvent) {
    CTrayIcon icon;
    icon.AddToTray(m_owner, 1410, "Vorlane", LoadIconA(nullptr, IDI_APPLICATION), 138);
    EXPECT_EQ(icon.HandleTrayMessage(139, WM_LBUTTONDBLCLK), 0) << "another icon's id";
    EXPECT_EQ(icon.HandleTrayMessage(138, WM_MOUSEMOVE), 1);
    EXPECT_EQ(icon.HandleTrayMessage(138, WM_LBUTTONUP), 1);
    EXPECT_EQ(icon.HandleTrayMessage(138, WM_RBUTTONDOWN), 1);
    // This test program has no menu resource 138: the menu events are ignored.
    EXPECT_EQ(icon.HandleTrayMessage(138, WM_RBUTTONUP), 0);
    EXPECT_EQ(icon.HandleTrayMessage(138, WM_LBUTTONDBLCLK), 0);
}

}  // namespace
