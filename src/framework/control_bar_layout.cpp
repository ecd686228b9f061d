#include "framework/control_bar_layout.h"
#include "framework/win32_casts.h"

#include <commctrl.h>

namespace {

struct LayoutPass {
    HWND parent;
    UINT firstId;
    UINT lastId;
    BarLayoutMode mode;
    RECT remaining;
};

// The bar's own visible style counts: during initialisation the parent is
// not shown yet, so IsWindowVisible would say no for every bar.
BOOL CALLBACK LayOutBar(HWND child, LPARAM param) {
    auto& pass = *PointerFromParam<LayoutPass>(param);
    const auto id = static_cast<UINT>(GetDlgCtrlID(child));
    if (GetParent(child) != pass.parent || id < pass.firstId || id > pass.lastId ||
        (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE) == 0) {
        return TRUE;
    }
    RECT bar{};
    GetWindowRect(child, &bar);
    const int height = bar.bottom - bar.top;
    const int width = pass.remaining.right - pass.remaining.left;
    const bool bottom = (GetWindowLongA(child, GWL_STYLE) & CCS_BOTTOM) == CCS_BOTTOM;
    int y = 0;
    if (bottom) {
        pass.remaining.bottom -= height;
        y = pass.remaining.bottom;
    } else {
        y = pass.remaining.top;
        pass.remaining.top += height;
    }
    if (pass.mode == BarLayoutMode::Place) {
        SetWindowPos(child, nullptr, pass.remaining.left, y, width, height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return TRUE;
}

}  // namespace

RECT RepositionBars(HWND parent, UINT firstId, UINT lastId, BarLayoutMode mode) {
    LayoutPass pass{parent, firstId, lastId, mode, {}};
    GetClientRect(parent, &pass.remaining);
    EnumChildWindows(parent, LayOutBar, reinterpret_cast<LPARAM>(&pass));
    return pass.remaining;
}
