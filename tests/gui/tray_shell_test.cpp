// The notification area going away under the program: a shell that restarts
// and has lost the icon, and a shell that is not there at all. Only the icon
// can show a hidden window, so the window must never be hidden without one.
// The last cases end the shell; this binary runs alone so no other test
// meets a session without one.
#include <gtest/gtest.h>

#include <string>

#include "gui_session.h"
#include "shell_tray.h"

namespace vorlane::gui {
namespace {

bool HiddenToTray(HWND window) {
    return !IsWindowVisible(window);
}

bool Minimised(HWND window) {
    return IsWindowVisible(window) && IsIconic(window);
}

void MinimiseWithHideTicked(HWND window) {
    SetCheck(window, IDC_MIN_HIDE_TO_TRAY, true);
    SendWithin(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

HWND StartedWindow(Session& session) {
    HWND window = session.Window();
    if (window != nullptr) {
        SettleAfterStart(window);
    }
    return window;
}

// ---- the shell restarts and has lost every icon ---------------------------

TEST(ShellRestart, TheIconComesBackAndStillShowsTheHiddenWindow) {
    SKIP_WITHOUT_VORLANE();
    Session session;
    HWND window = StartedWindow(session);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(TrayIconPresent(window, TRAY_ICON_ID));

    MinimiseWithHideTicked(window);
    ASSERT_TRUE(WaitUntil([&] { return HiddenToTray(window); }));
    ASSERT_TRUE(RemoveTrayIcon(window, TRAY_ICON_ID));
    AnnounceTaskbarCreated(window);
    EXPECT_TRUE(TrayIconPresent(window, TRAY_ICON_ID)) << "the icon was not added again";
    EXPECT_TRUE(HiddenToTray(window)) << "with its icon back the window stays hidden";

    // The message also comes while the icon is there; it must stay.
    AnnounceTaskbarCreated(window);
    EXPECT_TRUE(TrayIconPresent(window, TRAY_ICON_ID));

    SendWithin(window, WM_TRAY_NOTIFY, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) && !IsIconic(window); }));
    EXPECT_TRUE(session.CloseWith(WM_CLOSE));
}

// ---- no shell: the icon cannot be added -----------------------------------

class NoShell : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_VORLANE();
        // A window of this process keeps the session open, so nothing starts
        // the shell again once it has ended.
        keeper_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                  nullptr);
        ASSERT_NE(keeper_, nullptr);
    }
    void TearDown() override {
        if (keeper_ != nullptr) {
            DestroyWindow(keeper_);
        }
    }
    static void EndShellForGood() {
        if (FindWindowA("Shell_TrayWnd", nullptr) != nullptr) {
            ASSERT_TRUE(EndShell()) << "the shell did not end";
        }
    }
    HWND keeper_ = nullptr;
};

TEST_F(NoShell, AHiddenWindowComesBackMinimisedWhenTheIconCannotReturn) {
    Session session;
    HWND window = StartedWindow(session);
    ASSERT_NE(window, nullptr);
    if (!TrayIconPresent(window, TRAY_ICON_ID)) {
        GTEST_SKIP() << "no shell to start the program with";
    }
    MinimiseWithHideTicked(window);
    ASSERT_TRUE(WaitUntil([&] { return HiddenToTray(window); }));
    ASSERT_NO_FATAL_FAILURE(EndShellForGood());
    AnnounceTaskbarCreated(window);
    EXPECT_TRUE(WaitUntil([&] { return Minimised(window); }))
        << "a hidden window without an icon can never be shown again";
    EXPECT_TRUE(session.CloseWith(WM_CLOSE));
}

TEST_F(NoShell, MinimiseWithTheBoxTickedKeepsTheWindowOnTheTaskbar) {
    ASSERT_NO_FATAL_FAILURE(EndShellForGood());
    Session session;
    HWND window = StartedWindow(session);
    ASSERT_NE(window, nullptr);
    ASSERT_FALSE(TrayIconPresent(window, TRAY_ICON_ID));
    MinimiseWithHideTicked(window);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(window) != FALSE; }));
    Pause(milliseconds(500));
    EXPECT_TRUE(Minimised(window)) << "hidden with no icon to show it again";
    EXPECT_TRUE(session.CloseWith(WM_CLOSE));
}

TEST_F(NoShell, ABackgroundStartLeavesTheWindowMinimised) {
    ASSERT_NO_FATAL_FAILURE(EndShellForGood());
    Session session({}, "-background");
    HWND window = session.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return IsIconic(window) != FALSE; })) << "never minimised";
    // A late first show must neither hide nor restore it.
    Pause(milliseconds(2000));
    EXPECT_TRUE(Minimised(window));
    EXPECT_TRUE(session.CloseWith(WM_CLOSE));
}

}  // namespace
}  // namespace vorlane::gui
