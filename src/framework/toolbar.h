// A flat toolbar control along the top of its parent, filled from a toolbar
// resource: a layout record of type 241 (version 1, image width and height,
// item count, then one command id per item with 0 for a separator) and the
// bitmap strip of the same id.
#pragma once

#include <windows.h>

#include <commctrl.h>

class CToolBar {
  public:
    // A child toolbar with the given control id: flat buttons, no divider,
    // no tooltips of its own.
    bool Create(HWND parent, UINT id);
    bool LoadToolBar(HINSTANCE instance, UINT resourceId);

    HWND GetSafeHwnd() const { return m_hWnd; }
    int ButtonCount() const;
    bool GetButton(int index, TBBUTTON& button) const;
    RECT GetItemRect(int index) const;
    // Returns the list the toolbar had before.
    HIMAGELIST SetImageList(HIMAGELIST images) const;
    void SetToolTips(HWND tooltips) const;
    // Callable from any thread: the toolbar's thread carries it out.
    void EnableButton(UINT commandId, bool enabled) const;

  private:
    HWND m_hWnd = nullptr;
};
