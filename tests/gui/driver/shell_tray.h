// The notification area seen from another process: the shell keys an icon by
// its window and id, so a test can look for, remove or refuse a program's icon
// the way a restarting shell would.
#pragma once

#include <windows.h>

namespace vorlane::gui {

// True while the shell holds the icon `id` of `window`.
bool TrayIconPresent(HWND window, UINT id);
// Takes the icon away as a shell that restarts loses it.
bool RemoveTrayIcon(HWND window, UINT id);
// Tells `window` that the shell has started again, as the shell does.
void AnnounceTaskbarCreated(HWND window);
// Ends the process that owns the notification area; false when there is none.
// While any program of the session stays open, nothing starts it again, so
// icons added afterwards are refused.
bool EndShell();

}  // namespace vorlane::gui
