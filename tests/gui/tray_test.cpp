// The notification-area icon's callbacks as the shell sends them, hiding and
// showing the window, displays while hidden, and starting in the background.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "gui_session.h"
#include "listening_launch.h"
#include "loopback.h"

namespace vorlane::gui {
namespace {

constexpr WPARAM kOtherIconId = TRAY_ICON_ID + 1;
// Under Wine the X server's answer to hiding a minimised window arrives late and
// can undo a show sent within milliseconds; a user's second click never is.
constexpr milliseconds kUserPace{300};

LRESULT TrayEvent(HWND window, UINT mouseMessage, WPARAM iconId = TRAY_ICON_ID) {
    return SendWithin(window, WM_TRAY_NOTIFY, iconId, static_cast<LPARAM>(mouseMessage));
}

bool Shown(HWND window) {
    return IsWindowVisible(window) && !IsIconic(window);
}

// For failure messages.
std::string Visibility(HWND window) {
    return std::string(IsWindowVisible(window) ? "visible" : "hidden") +
           (IsIconic(window) ? ", minimised" : "");
}

// ---- one launch, listening from the start -----------------------------------

class TrayIcon : public ListeningLaunch<TrayIcon> {
  protected:
    void SetUp() override {
        ListeningLaunch::SetUp();
        if (!HasFatalFailure() && !IsSkipped()) {
            ASSERT_TRUE(Shown(Window()))
                << "left " << Visibility(Window()) << " by a previous case";
        }
    }

    void TearDown() override {
        // A menu left open would swallow the next case's messages.
        if (HWND menu = Launched() ? Launch().Process().PopupMenu() : nullptr) {
            ADD_FAILURE() << "a pop-up menu was left open";
            PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
            WaitUntil([&] { return Launch().Process().PopupMenu() == nullptr; });
        }
        ListeningLaunch::TearDown();
    }

    HWND OpenMenu() {
        // Focus changes of the last show or hide reach Wine late and would
        // cancel a menu opened at once.
        Pause(kUserPace);
        PostMessageA(Window(), WM_TRAY_NOTIFY, TRAY_ICON_ID, WM_RBUTTONUP);
        HWND menu = nullptr;
        WaitUntil([&] { return (menu = Launch().Process().PopupMenu()) != nullptr; });
        return menu;
    }

    // Picks an item by its mnemonic, as a user typing it into the open menu.
    void ChooseFromMenu(HWND menu, char mnemonic) {
        PostMessageA(menu, WM_CHAR, mnemonic, 0);
        EXPECT_TRUE(WaitUntil([&] { return Launch().Process().PopupMenu() == nullptr; }));
    }
};

TEST_F(TrayIcon, EventsOtherThanRightClickAndDoubleClickDoNothing) {
    struct Case {
        const char* name;
        WPARAM iconId;
        UINT event;
        LRESULT result;
    };
    const Case cases[] = {
        {"double-click on another icon", kOtherIconId, WM_LBUTTONDBLCLK, 0},
        {"right-click on another icon", kOtherIconId, WM_RBUTTONUP, 0},
        {"pointer movement", TRAY_ICON_ID, WM_MOUSEMOVE, 1},
        {"left press", TRAY_ICON_ID, WM_LBUTTONDOWN, 1},
        {"left release", TRAY_ICON_ID, WM_LBUTTONUP, 1},
        {"right press", TRAY_ICON_ID, WM_RBUTTONDOWN, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result, TrayEvent(Window(), c.event, c.iconId)) << c.name;
        EXPECT_TRUE(Shown(Window())) << c.name;
        EXPECT_EQ(nullptr, Launch().Process().PopupMenu()) << c.name;
    }
}

TEST_F(TrayIcon, DoubleClickHidesAndShowsTheWindow) {
    EXPECT_EQ(1, TrayEvent(Window(), WM_LBUTTONDBLCLK));
    EXPECT_FALSE(IsWindowVisible(Window()));
    EXPECT_EQ(1, TrayEvent(Window(), WM_LBUTTONDBLCLK));
    EXPECT_TRUE(Shown(Window()));
}

TEST_F(TrayIcon, RightClickMenuClosesOnEscapeWithoutACommand) {
    HWND menu = OpenMenu();
    ASSERT_NE(menu, nullptr);
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(WaitUntil([&] { return Launch().Process().PopupMenu() == nullptr; }));
    EXPECT_TRUE(Shown(Window()));
}

TEST_F(TrayIcon, MenuFirstItemHidesAndShowsTheWindow) {
    HWND menu = OpenMenu();
    ASSERT_NE(menu, nullptr);
    ChooseFromMenu(menu, 'h');
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(Window()); }));

    menu = OpenMenu();
    ASSERT_NE(menu, nullptr);
    ChooseFromMenu(menu, 'h');
    EXPECT_TRUE(WaitUntil([&] { return Shown(Window()); }));
}

TEST_F(TrayIcon, MinimiseHidesOnlyWhenTheBoxIsTicked) {
    for (bool ticked : {true, false}) {
        SetCheck(Window(), IDC_MIN_HIDE_TO_TRAY, ticked);
        SendWithin(Window(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
        if (ticked) {
            EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(Window()); }));
            SendCommand(Window(), ID_TOGGLE_WINDOW);
        } else {
            EXPECT_TRUE(WaitUntil([&] { return IsIconic(Window()); }));
            EXPECT_TRUE(IsWindowVisible(Window())) << "hidden with the box unticked";
            // Show/Hide on a minimised window hides it; the next one restores it.
            SendCommand(Window(), ID_TOGGLE_WINDOW);
            EXPECT_FALSE(IsWindowVisible(Window()));
            Pause(kUserPace);
            SendCommand(Window(), ID_TOGGLE_WINDOW);
        }
        EXPECT_TRUE(WaitUntil([&] { return Shown(Window()); }))
            << "ticked " << ticked << ": " << Visibility(Window());
    }
}

TEST_F(TrayIcon, DisplaysFreezeWhileHiddenAndCatchUpOnShow) {
    TestSocket first = Connect(port_);
    ASSERT_EQ("one", RoundTrip(first, "one"));
    ASSERT_EQ("3 Bytes", WaitForControlText(Window(), IDC_BYTES_DOWN, "3 Bytes"));
    Pause(milliseconds(1100));  // let a tick settle the speeds
    const std::string upSpeed = ControlText(Window(), IDC_SPEED_UP);

    SendCommand(Window(), ID_TOGGLE_WINDOW);
    ASSERT_FALSE(IsWindowVisible(Window()));
    TestSocket second = Connect(port_);
    ASSERT_EQ(std::string(6000, 'x'), RoundTrip(second, std::string(6000, 'x')));
    // The count goes on changing while hidden; totals and speeds do not.
    EXPECT_EQ("4", WaitForControlText(Window(), IDC_CONNECTION_COUNT, "4"));
    Pause(milliseconds(1200));
    EXPECT_EQ("3 Bytes", ControlText(Window(), IDC_BYTES_UP));
    EXPECT_EQ("3 Bytes", ControlText(Window(), IDC_BYTES_DOWN));
    EXPECT_EQ(upSpeed, ControlText(Window(), IDC_SPEED_UP));

    // Shown again: the totals are redrawn before the command returns.
    SendCommand(Window(), ID_TOGGLE_WINDOW);
    EXPECT_EQ("5.9 KB", ControlText(Window(), IDC_BYTES_UP));
    EXPECT_EQ("5.9 KB", ControlText(Window(), IDC_BYTES_DOWN));
}

// Last case of the group: it ends the program.
TEST_F(TrayIcon, ExitFromTheMenuWhileHiddenSaves) {
    SetControlText(Window(), IDC_CONNECTION_LIMIT, "42");
    SendCommand(Window(), ID_TOGGLE_WINDOW);
    ASSERT_FALSE(IsWindowVisible(Window()));

    HWND menu = OpenMenu();
    ASSERT_NE(menu, nullptr);
    PostMessageA(menu, WM_CHAR, 'e', 0);
    EXPECT_TRUE(Launch().Process().WaitForExit());

    IniValues saved = values_;
    saved.connectionLimit = "42";
    EXPECT_EQ(saved.File(), Launch().Folder().ReadIni().value_or("<no file>"));
}

// ---- the -background switch -------------------------------------------------

struct CommandLineCase {
    const char* arguments;
    bool hidden;
};

void PrintTo(const CommandLineCase& c, std::ostream* out) {
    *out << "arguments \"" << c.arguments << '"';
}

class BackgroundSwitch : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(BackgroundSwitch, HidesOnlyWhenTheLineEndsInTheSwitch) {
    SKIP_WITHOUT_VORLANE();
    WinsockSession winsock;
    const int port = FreePort();
    IniValues values;
    values.localListenPort = std::to_string(port);
    values.autoStart = "1";
    Session session(values.File(), GetParam().arguments);
    HWND window = session.Window();
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(ListeningOn(port), WaitForStatusText(window, ListeningOn(port)));
    const bool hidden = GetParam().hidden;
    if (hidden) {
        EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); })) << "never hidden";
    } else {
        Pause(milliseconds(1000));  // timer 2 would have fired long ago
        EXPECT_TRUE(IsWindowVisible(window));
    }
    // A late first show must not bring the window back.
    Pause(milliseconds(2000));
    EXPECT_EQ(!hidden, IsWindowVisible(window) != FALSE) << "two seconds later";
    // Hidden at start, the icon still brings it back.
    if (hidden) {
        TrayEvent(window, WM_LBUTTONDBLCLK);
        EXPECT_TRUE(WaitUntil([&] { return Shown(window); })) << Visibility(window);
    }
    EXPECT_TRUE(session.CloseWith(WM_CLOSE));
}

INSTANTIATE_TEST_SUITE_P(CommandLines, BackgroundSwitch,
                         ::testing::Values(CommandLineCase{"-background", true},
                                           CommandLineCase{"x--background", true},
                                           CommandLineCase{"-Background", false},
                                           CommandLineCase{"-background ", false}));

}  // namespace
}  // namespace vorlane::gui
