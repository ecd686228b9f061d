// Reading and driving another process's window by control id, the way a
// UI-automation tool does: only messages the system carries across processes.
#pragma once

#include <windows.h>

#include <string>

#include "pacing.h"

namespace vorlane::gui {

// The static that holds a message box's text.
inline constexpr int kMessageTextId = 0xFFFF;

std::string ClassName(HWND window);
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
void SetControlText(HWND dialog, int id, const std::string& text);
// Sets the state directly, as code does: no click, no notification.
void SetCheck(HWND dialog, int id, bool ticked);
// A real click: the button toggles itself and notifies its parent.
void Click(HWND dialog, int id);

// Synchronous: returns once the handler has run (or after the send limit).
LRESULT SendCommand(HWND window, int id);
// Queued: for handlers that open a modal box or menu and so would not return.
void PostCommand(HWND window, int id);
LRESULT SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

bool ToolbarButtonEnabled(HWND dialog, int command);
// Pane 0 of the status bar.
std::string StatusText(HWND dialog);

HWND Toolbar(HWND dialog);
HWND StatusBar(HWND dialog);
// A child window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND child);

// The tools of the toolbar's tooltip control.
int ToolTipCount(HWND dialog);
// The tooltip text of one toolbar command, empty when it has none. The text
// is read into memory lent in the program's own process, since the tooltip
// control writes through a pointer that must be valid there.
std::string ToolTipText(HANDLE process, HWND dialog, int command);

std::string MessageBoxText(HWND box);
void DismissMessageBox(HWND box);

// Polls a control until it shows `expected`; returns the text last seen, so a
// failing comparison prints what the window really showed.
std::string WaitForControlText(HWND dialog, int id, const std::string& expected,
                               milliseconds limit = kWaitLimit);
std::string WaitForStatusText(HWND dialog, const std::string& expected,
                              milliseconds limit = kWaitLimit);

}  // namespace vorlane::gui
