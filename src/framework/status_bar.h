// A status bar control with fixed-width panes, placed by its owner.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CStatusBar {
  public:
    // A visible child status bar that keeps the geometry it is given.
    bool Create(HWND parent, UINT id);
    void MoveTo(const RECT& rect) const;
    // One width per pane; the last pane stretches to the right edge.
    void SetPaneWidths(const std::vector<int>& widths) const;
    // Sunken pane text; returns once the status bar has taken it.
    void SetText(int pane, const std::string& text) const;
    HWND GetSafeHwnd() const { return m_hWnd; }

  private:
    HWND m_hWnd = nullptr;
};
