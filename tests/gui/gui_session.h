// What every GUI test group shares: a launch of the program in its own folder,
// and the base for a group that reuses one launch for all of its cases.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app_folder.h"
#include "resource.h"
#include "vorlane_process.h"
#include "window_probe.h"

namespace vorlane::gui {

inline std::string BuiltVorlaneExe() {
#ifdef VORLANE_EXE_PATH
    return VORLANE_EXE_PATH;
#else
    return {};
#endif
}

// Setting.ini after a first start and close without changes.
inline const std::string kDefaultIni =
    "[Vorlane]\r\n"
    "LocalListenPort=1987\r\n"
    "ConnectionLimit=100\r\n"
    "DestAddr=127.0.0.1\r\n"
    "DestPort=1988\r\n"
    "EncodeClient=0\r\n"
    "EncodeServer=0\r\n"
    "AutoStart=0\r\n"
    "MinHideToTray=0\r\n";

// The eight keys in file order, for building a Setting.ini in a test, after
// whole lines of keys the window does not use (the headless relay's own).
struct IniValues {
    std::string otherKeys;
    std::string localListenPort = "1987";
    std::string connectionLimit = "100";
    std::string destAddr = "127.0.0.1";
    std::string destPort = "1988";
    std::string encodeClient = "0";
    std::string encodeServer = "0";
    std::string autoStart = "0";
    std::string minHideToTray = "0";

    std::string File() const {
        return "[Vorlane]\r\n" + otherKeys + "LocalListenPort=" + localListenPort +
               "\r\nConnectionLimit=" + connectionLimit + "\r\nDestAddr=" + destAddr +
               "\r\nDestPort=" + destPort + "\r\nEncodeClient=" + encodeClient +
               "\r\nEncodeServer=" + encodeServer + "\r\nAutoStart=" + autoStart +
               "\r\nMinHideToTray=" + minHideToTray + "\r\n";
    }
};

// The status line of a run listening on `port`.
inline std::string ListeningOn(int port) {
    return "Listening on port " + std::to_string(port) + "...";
}

// One copy of the program in a fresh folder; `ini` (when not empty) is written
// as Setting.ini before the start.
class Session {
  public:
    explicit Session(const std::string& ini = {}, const std::string& arguments = {})
        : folder_(BuiltVorlaneExe()) {
        if (!ini.empty()) {
            folder_.WriteIni(ini);
        }
        process_ = std::make_unique<VorlaneProcess>(folder_, arguments);
    }

    AppFolder& Folder() { return folder_; }
    VorlaneProcess& Process() { return *process_; }
    HWND Window() { return process_->MainWindow(); }

    // Posts a closing message (WM_CLOSE, WM_SYSCOMMAND SC_CLOSE, or the Exit
    // command) and waits for the program to end.
    bool CloseWith(UINT message, WPARAM wParam = 0) {
        PostMessageA(Window(), message, wParam, 0);
        return process_->WaitForExit();
    }

    // Fails the running case if a message box is open, and closes it so the
    // next case starts clean.
    void ExpectNoMessageBox() {
        if (HWND box = process_->WaitForMessageBox(milliseconds(0))) {
            ADD_FAILURE() << "unexpected message box: " << MessageBoxText(box);
            DismissMessageBox(box);
        }
    }

  private:
    AppFolder folder_;
    std::unique_ptr<VorlaneProcess> process_;
};

// Wine's modal loop shows the dialog again when its queue first goes idle, which
// can undo a hide sent in the first moments. A user is never that quick; the
// tests wait until the loop runs, and a little longer.
inline void SettleAfterStart(HWND window) {
    SendWithin(window, WM_NULL, 0, 0);
    Pause(milliseconds(500));
}

#define SKIP_WITHOUT_VORLANE()                                   \
    if (::vorlane::gui::BuiltVorlaneExe().empty()) {             \
        GTEST_SKIP() << "Vorlane.exe is not part of this build"; \
    }

// A group whose cases share one launch: the first case starts the program with
// Group::Ini() as its Setting.ini, the end of the group stops it. Cases run
// in the order written and each leaves the window as it found it.
template <class Group>
class SharedLaunch : public ::testing::Test {
  protected:
    static std::string Ini() { return {}; }

    static void TearDownTestSuite() { session_.reset(); }

    void SetUp() override {
        SKIP_WITHOUT_VORLANE();
        const bool fresh = !session_;
        if (fresh) {
            session_ = std::make_unique<Session>(Group::Ini());
        }
        ASSERT_TRUE(session_->Process().Running()) << "the program has ended";
        ASSERT_NE(session_->Window(), nullptr) << "no main window";
        // The window exists from the start of its initialisation; it is shown
        // once that has finished (settings loaded, buttons set).
        if (fresh) {
            ASSERT_TRUE(WaitUntil([] { return IsWindowVisible(Window()) != FALSE; }))
                << "the window was never shown";
            SettleAfterStart(Window());
        }
    }

    void TearDown() override {
        if (session_ && session_->Process().Running()) {
            session_->ExpectNoMessageBox();
        }
    }

    static bool Launched() { return session_ != nullptr; }
    static Session& Launch() { return *session_; }
    static HWND Window() { return session_->Window(); }

  private:
    static inline std::unique_ptr<Session> session_;
};

}  // namespace vorlane::gui
