// One running copy of the program, started and ended by this test process.
#pragma once

#include <windows.h>

#include <string>

#include "app_folder.h"
#include "pacing.h"

namespace vorlane::gui {

class VorlaneProcess {
  public:
    // Starts the program in `folder` (also its working folder). `arguments` are
    // appended to the quoted executable path, exactly as given.
    explicit VorlaneProcess(const AppFolder& folder, const std::string& arguments = "");
    // Ends the program by its own handle if it is still running.
    ~VorlaneProcess();
    VorlaneProcess(const VorlaneProcess&) = delete;
    VorlaneProcess& operator=(const VorlaneProcess&) = delete;

    DWORD Pid() const { return info_.dwProcessId; }
    HANDLE Handle() const { return info_.hProcess; }
    bool Running() const;
    bool WaitForExit(milliseconds limit = kWaitLimit) const;
    void Kill();

    // The main window (caption "Vorlane", holding control 1000), hidden or not;
    // null when it has not appeared within `limit`.
    HWND MainWindow(milliseconds limit = kWaitLimit);
    // A message box of this process (a dialog without control 1000 but with the
    // message static), null when none appears within `limit`.
    HWND WaitForMessageBox(milliseconds limit = kWaitLimit) const;
    // The visible pop-up menu window of this process, null when there is none.
    HWND PopupMenu() const;

  private:
    // The first top-level window of this process that `matches`, polled until
    // `limit` passes or the process ends; null when there is none.
    template <class Match>
    HWND WaitForWindow(Match matches, milliseconds limit) const;

    PROCESS_INFORMATION info_{};
    HWND main_ = nullptr;
};

}  // namespace vorlane::gui
