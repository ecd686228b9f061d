#include "framework/tooltips.h"

#include <commctrl.h>

bool CToolTipCtrl::Create(HWND owner) {
    m_hWnd = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    return m_hWnd != nullptr;
}

void CToolTipCtrl::AddTool(HWND window, UINT toolId, const RECT& area, HINSTANCE instance,
                           UINT textId) const {
    TTTOOLINFOA tool{};
    // The older record size is understood by every version of the control.
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = window;
    tool.uId = toolId;
    tool.rect = area;
    tool.hinst = instance;
    tool.lpszText = MAKEINTRESOURCEA(textId);
    SendMessageA(m_hWnd, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}
