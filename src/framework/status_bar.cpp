#include "framework/status_bar.h"
#include "framework/win32_casts.h"

#include <commctrl.h>

bool CStatusBar::Create(HWND parent, UINT id) {
    m_hWnd =
        CreateWindowExA(0, STATUSCLASSNAMEA, nullptr,
                        WS_CHILD | WS_VISIBLE | CCS_BOTTOM | CCS_NOPARENTALIGN | CCS_NORESIZE, 0, 0,
                        0, 0, parent, ChildIdAsMenu(id), GetModuleHandleA(nullptr), nullptr);
    return m_hWnd != nullptr;
}

void CStatusBar::MoveTo(const RECT& rect) const {
    MoveWindow(m_hWnd, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

void CStatusBar::SetPaneWidths(const std::vector<int>& widths) const {
    // The control wants each pane's right edge; -1 reaches the window's edge.
    std::vector<int> edges;
    int right = 0;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        right += widths[i];
        edges.push_back(i + 1 == widths.size() ? -1 : right);
    }
    SendMessageA(m_hWnd, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void CStatusBar::SetText(int pane, const std::string& text) const {
    SendMessageA(m_hWnd, SB_SETTEXTA, static_cast<WPARAM>(pane),
                 reinterpret_cast<LPARAM>(text.c_str()));
}
