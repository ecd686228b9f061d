#include "shell_tray.h"

#include <shellapi.h>

#include "pacing.h"
#include "window_probe.h"

namespace vorlane::gui {
namespace {

NOTIFYICONDATAA IconRecord(HWND window, UINT id) {
    NOTIFYICONDATAA record{};
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = window;
    record.uID = id;
    return record;
}

}  // namespace

// A change of nothing succeeds exactly when the icon is there.
bool TrayIconPresent(HWND window, UINT id) {
    NOTIFYICONDATAA record = IconRecord(window, id);
    return Shell_NotifyIconA(NIM_MODIFY, &record) != FALSE;
}

bool RemoveTrayIcon(HWND window, UINT id) {
    NOTIFYICONDATAA record = IconRecord(window, id);
    return Shell_NotifyIconA(NIM_DELETE, &record) != FALSE;
}

void AnnounceTaskbarCreated(HWND window) {
    SendWithin(window, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
}

bool EndShell() {
    HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
    DWORD pid = 0;
    if (tray == nullptr || GetWindowThreadProcessId(tray, &pid) == 0) {
        return false;
    }
    HANDLE shell = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (shell == nullptr) {
        return false;
    }
    const bool ended =
        TerminateProcess(shell, 0) != FALSE &&
        WaitForSingleObject(shell, static_cast<DWORD>(kWaitLimit.count())) == WAIT_OBJECT_0;
    CloseHandle(shell);
    return ended && WaitUntil([] { return FindWindowA("Shell_TrayWnd", nullptr) == nullptr; });
}

}  // namespace vorlane::gui
