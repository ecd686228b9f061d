// The main window driven from outside: defaults, toolbar and layout, settings
// load and save (and a file that cannot be written), keys that must not close
// it, the encode boxes and Help.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "gui_session.h"

namespace vorlane::gui {
namespace {

struct FieldText {
    int id;
    const char* text;
};

struct FieldDigitsOnly {
    int id;
    bool digitsOnly;
};

struct CheckState {
    int id;
    bool ticked;
};

void ExpectTexts(HWND window, const std::vector<FieldText>& expected) {
    for (const auto& [id, text] : expected) {
        EXPECT_EQ(text, ControlText(window, id)) << "control " << id;
    }
}

void ExpectChecks(HWND window, const std::vector<CheckState>& expected) {
    for (const auto& [id, ticked] : expected) {
        EXPECT_EQ(ticked, IsChecked(window, id)) << "box " << id;
    }
}

// ---- first start: no settings file ------------------------------------------

class FirstStart : public SharedLaunch<FirstStart> {};

TEST_F(FirstStart, ShowsDefaultsIdleStateAndZeroDisplays) {
    Pause(milliseconds(1200));  // past the first speed tick
    EXPECT_EQ("Vorlane", WindowText(Window()));
    EXPECT_TRUE(IsWindowVisible(Window()));
    ExpectTexts(Window(), {{IDC_LOCAL_PORT, "1987"},
                           {IDC_CONNECTION_LIMIT, "100"},
                           {IDC_TARGET_ADDR, "127.0.0.1"},
                           {IDC_TARGET_PORT, "1988"},
                           {IDC_CONNECTION_COUNT, "0"},
                           {IDC_BYTES_UP, "0 Byte"},
                           {IDC_BYTES_DOWN, "0 Byte"},
                           {IDC_SPEED_UP, "0 Byte/s"},
                           {IDC_SPEED_DOWN, "0 Byte/s"}});
    ExpectChecks(Window(), {{IDC_ENCODE_CLIENT, false},
                            {IDC_ENCODE_SERVER, false},
                            {IDC_AUTO_START, false},
                            {IDC_MIN_HIDE_TO_TRAY, false}});
    EXPECT_EQ("Ready", StatusText(Window()));
    EXPECT_TRUE(ToolbarButtonEnabled(Window(), ID_START));
    EXPECT_FALSE(ToolbarButtonEnabled(Window(), ID_STOP));
    EXPECT_TRUE(ToolbarButtonEnabled(Window(), ID_HELP_SUPPORT));
}

TEST_F(FirstStart, TabVisitsTheSettingsInOrderAndPortsTakeDigitsOnly) {
    const int tabOrder[] = {IDC_LOCAL_PORT,       IDC_TARGET_ADDR,      IDC_TARGET_PORT,
                            IDC_ENCODE_CLIENT,    IDC_ENCODE_SERVER,    IDC_AUTO_START,
                            IDC_MIN_HIDE_TO_TRAY, IDC_CONNECTION_LIMIT, IDC_LOCAL_PORT};
    for (size_t i = 0; i + 1 < std::size(tabOrder); ++i) {
        HWND next = GetNextDlgTabItem(Window(), GetDlgItem(Window(), tabOrder[i]), FALSE);
        EXPECT_EQ(tabOrder[i + 1], GetDlgCtrlID(next)) << "after " << tabOrder[i];
    }
    const FieldDigitsOnly fields[] = {{IDC_LOCAL_PORT, true},
                                      {IDC_TARGET_ADDR, false},
                                      {IDC_TARGET_PORT, true},
                                      {IDC_CONNECTION_LIMIT, false}};
    for (const auto& [id, digitsOnly] : fields) {
        const auto style = GetWindowLongA(GetDlgItem(Window(), id), GWL_STYLE);
        EXPECT_EQ(digitsOnly, (style & ES_NUMBER) != 0) << "field " << id;
    }
}

TEST_F(FirstStart, EnterAndEscapeLeaveTheWindowOpen) {
    struct Key {
        const char* name;
        int target;  // 0: the dialog itself
        UINT message;
        WPARAM wParam;
    };
    const Key keys[] = {
        {"OK command", 0, WM_COMMAND, IDOK},
        {"Cancel command", 0, WM_COMMAND, IDCANCEL},
        {"Enter in the port field", IDC_LOCAL_PORT, WM_KEYDOWN, VK_RETURN},
        {"Escape in the target field", IDC_TARGET_ADDR, WM_KEYDOWN, VK_ESCAPE},
    };
    for (const auto& key : keys) {
        HWND target = key.target ? GetDlgItem(Window(), key.target) : Window();
        PostMessageA(target, key.message, key.wParam, 0);
        EXPECT_FALSE(Launch().Process().WaitForExit(milliseconds(700))) << key.name;
        EXPECT_TRUE(IsWindowVisible(Window())) << key.name;
    }
}

TEST_F(FirstStart, ClickOnOneEncodeBoxUnticksTheOther) {
    struct Case {
        bool clientBefore, serverBefore;
        std::vector<int> clicks;
        bool clientAfter, serverAfter;
    };
    const Case cases[] = {
        {false, false, {IDC_ENCODE_CLIENT}, true, false},
        {false, false, {IDC_ENCODE_CLIENT, IDC_ENCODE_CLIENT}, false, false},
        {false, false, {IDC_ENCODE_CLIENT, IDC_ENCODE_SERVER}, false, true},
        {false, false, {IDC_ENCODE_SERVER, IDC_ENCODE_CLIENT}, true, false},
        {false, false, {IDC_ENCODE_SERVER, IDC_ENCODE_SERVER}, false, false},
        // Unticking a box leaves the other one alone.
        {true, true, {IDC_ENCODE_CLIENT}, false, true},
        {true, true, {IDC_ENCODE_SERVER}, true, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SetCheck(Window(), IDC_ENCODE_CLIENT, c.clientBefore);
        SetCheck(Window(), IDC_ENCODE_SERVER, c.serverBefore);
        for (int id : c.clicks) {
            Click(Window(), id);
        }
        EXPECT_EQ(c.clientAfter, IsChecked(Window(), IDC_ENCODE_CLIENT)) << "case " << i;
        EXPECT_EQ(c.serverAfter, IsChecked(Window(), IDC_ENCODE_SERVER)) << "case " << i;
    }
    SetCheck(Window(), IDC_ENCODE_CLIENT, false);
    SetCheck(Window(), IDC_ENCODE_SERVER, false);
}

TEST_F(FirstStart, HelpShowsAOneLineNoteUntilDismissed) {
    PostCommand(Window(), ID_HELP_SUPPORT);
    HWND box = Launch().Process().WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ("Vorlane", WindowText(box));
    const std::string note = MessageBoxText(box);
    EXPECT_FALSE(note.empty());
    EXPECT_EQ(std::string::npos, note.find_first_of("\r\n")) << note;
    DismissMessageBox(box);
    EXPECT_FALSE(IsWindow(box));
    EXPECT_TRUE(IsWindowVisible(Window()));
}

TEST_F(FirstStart, ToolbarHasATooltipPerButtonAndTheControlsSitBelowIt) {
    EXPECT_EQ(3, ToolTipCount(Window()));  // none for the separator
    const FieldText tips[] = {{ID_START, "Start"}, {ID_STOP, "Stop"}, {ID_HELP_SUPPORT, "Help"}};
    for (const auto& [command, text] : tips) {
        EXPECT_EQ(text, ToolTipText(Launch().Process().Handle(), Window(), command))
            << "command " << command;
    }

    RECT client{};
    GetClientRect(Window(), &client);
    const RECT bar = RectInParent(Toolbar(Window()));
    EXPECT_EQ(0, bar.left);
    EXPECT_EQ(0, bar.top);
    EXPECT_EQ(client.right, bar.right);
    const RECT status = RectInParent(StatusBar(Window()));
    EXPECT_EQ(client.bottom, status.bottom);
    EXPECT_EQ(20, status.bottom - status.top);
    int top = client.bottom;
    int bottom = 0;
    for (HWND child = GetWindow(Window(), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (child != Toolbar(Window()) && child != StatusBar(Window())) {
            const RECT rect = RectInParent(child);
            top = std::min(top, static_cast<int>(rect.top));
            bottom = std::max(bottom, static_cast<int>(rect.bottom));
        }
    }
    // The template leaves 3 dialog units above its highest control and below
    // its lowest. The same gap under the toolbar and above the status bar
    // shows that the controls moved down by the toolbar's height and the
    // window grew by as much (give or take the rounding of dialog units).
    EXPECT_GT(top - bar.bottom, 0) << "a control lies under the toolbar";
    EXPECT_NEAR(top - bar.bottom, status.top - bottom, 2);
}

// Last case of the group: every case before it left the settings at their defaults.
TEST_F(FirstStart, CloseWritesTheDefaultFile) {
    EXPECT_EQ(std::nullopt, Launch().Folder().ReadIni()) << "written before closing";
    ASSERT_TRUE(Launch().CloseWith(WM_CLOSE));
    EXPECT_EQ(kDefaultIni, Launch().Folder().ReadIni().value_or("<no file>"));
}

// ---- a prepared settings file -----------------------------------------------

const std::string kLongLimit(300, '7');
// The headless relay's keys: the window neither reads nor writes them, and a
// save keeps them (a range list longer than a loaded value too). The system
// rewrites every line of the file on a write, blanks around "=" dropped, so
// these have none.
const std::string kRelayKeys =
    "BindAddr=::1\r\nAllowFrom=10.0.0.0/8," + std::string(250, ' ') + "fd00::/8\r\nStats=5\r\n";

class PreparedSettings : public SharedLaunch<PreparedSettings> {
  public:
    static std::string Ini() {
        IniValues values;
        values.otherKeys = kRelayKeys;
        values.localListenPort = "2345";
        values.connectionLimit = kLongLimit;
        values.destAddr = "relay.example#newline#second";
        values.destPort = "";
        values.encodeClient = "1";
        values.encodeServer = "1";
        values.autoStart = "yes";
        values.minHideToTray = "1";
        return values.File();
    }
};

TEST_F(PreparedSettings, LoadsEveryKindOfValue) {
    const std::string limit = kLongLimit.substr(0, 255);
    ExpectTexts(Window(), {{IDC_LOCAL_PORT, "2345"},
                           {IDC_CONNECTION_LIMIT, limit.c_str()},
                           {IDC_TARGET_ADDR, "relay.example\r\nsecond"},
                           {IDC_TARGET_PORT, ""}});
    // Both encode boxes ticked: a load is no click, so neither unticks the other.
    ExpectChecks(Window(), {{IDC_ENCODE_CLIENT, true},
                            {IDC_ENCODE_SERVER, true},
                            {IDC_AUTO_START, false},
                            {IDC_MIN_HIDE_TO_TRAY, true}});
    // "yes" is not "1": no start at launch.
    EXPECT_EQ("Ready", StatusText(Window()));
    EXPECT_TRUE(ToolbarButtonEnabled(Window(), ID_START));
}

TEST_F(PreparedSettings, CloseBoxSavesTheControlsAsTheyStand) {
    SetControlText(Window(), IDC_LOCAL_PORT, "");
    Click(Window(), IDC_MIN_HIDE_TO_TRAY);
    ASSERT_TRUE(Launch().CloseWith(WM_SYSCOMMAND, SC_CLOSE));

    IniValues saved;
    saved.otherKeys = kRelayKeys;
    saved.localListenPort = "";
    saved.connectionLimit = kLongLimit.substr(0, 255);
    saved.destAddr = "relay.example#newline#second";
    saved.destPort = "";
    saved.encodeClient = "1";
    saved.encodeServer = "1";
    saved.autoStart = "0";
    saved.minHideToTray = "0";
    EXPECT_EQ(saved.File(), Launch().Folder().ReadIni().value_or("<no file>"));
}

// ---- a settings file that cannot be written ---------------------------------

enum class Unwritable { ReadOnlyFile, FolderInItsPlace };

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

class UnwritableSettings : public ::testing::TestWithParam<Unwritable> {};

TEST_P(UnwritableSettings, CloseNamesTheFileInOneBoxAndEndsAllTheSame) {
    SKIP_WITHOUT_VORLANE();
    Session session(kDefaultIni);
    HWND window = session.Window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }));
    SettleAfterStart(window);
    if (GetParam() == Unwritable::FolderInItsPlace) {
        session.Folder().PutFolderInPlaceOfIni();
    } else if (!session.Folder().MakeIniReadOnly()) {
        GTEST_SKIP() << "this user may write a read-only file";
    }
    SetControlText(window, IDC_LOCAL_PORT, "2345");  // a change that is lost

    PostMessageA(window, WM_CLOSE, 0, 0);
    HWND box = session.Process().WaitForMessageBox();
    ASSERT_NE(box, nullptr) << "the settings were lost without a word";
    EXPECT_EQ("Vorlane", WindowText(box));
    // The program names the file as its own path gives it; letter case aside,
    // that is the folder's.
    EXPECT_EQ(Lower("Cannot save settings to " + session.Folder().IniPath() + "!"),
              Lower(MessageBoxText(box)));
    DismissMessageBox(box);
    // Eight keys failed, yet the one box was all: the program has ended.
    EXPECT_TRUE(session.Process().WaitForExit())
        << "still running, showing: "
        << MessageBoxText(session.Process().WaitForMessageBox(milliseconds(0)));
    if (GetParam() == Unwritable::ReadOnlyFile) {
        EXPECT_EQ(kDefaultIni, session.Folder().ReadIni().value_or("<no file>"));
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, UnwritableSettings,
                         ::testing::Values(Unwritable::ReadOnlyFile, Unwritable::FolderInItsPlace),
                         [](const ::testing::TestParamInfo<Unwritable>& info) {
                             return info.param == Unwritable::ReadOnlyFile ? "ReadOnlyFile"
                                                                           : "FolderInItsPlace";
                         });

}  // namespace
}  // namespace vorlane::gui
