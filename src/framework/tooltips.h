// A tooltip control whose tools are rectangles of another window.
#pragma once

#include <windows.h>

class CToolTipCtrl {
  public:
    bool Create(HWND owner);
    // text: a string resource id of instance.
    void AddTool(HWND window, UINT toolId, const RECT& area, HINSTANCE instance, UINT textId) const;
    HWND GetSafeHwnd() const { return m_hWnd; }

  private:
    HWND m_hWnd = nullptr;
};
