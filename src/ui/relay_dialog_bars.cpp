// The toolbar with its images and tooltips, and the status bar.
#include "framework/control_bar_layout.h"
#include "resource.h"
#include "ui/relay_dialog.h"

namespace {

constexpr int kImageSize = 30;
constexpr int kStatusBarHeight = 20;
constexpr int kStatusPaneWidth = 200;
constexpr int kStatusStretchPaneWidth = 90;

int Width(const RECT& rect) {
    return rect.right - rect.left;
}
int Height(const RECT& rect) {
    return rect.bottom - rect.top;
}

// Moves every child window, in z-order, by (dx, dy) without repainting.
void MoveChildren(HWND parent, int dx, int dy) {
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
        SetWindowPos(child, nullptr, rect.left + dx, rect.top + dy, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    }
}

}  // namespace

void CRelayDlg::CreateToolBar() {
    HWND window = GetSafeHwnd();
    if (!m_toolBar.Create(window, ID_TOOLBAR_BAR) ||
        !m_toolBar.LoadToolBar(Instance(), IDR_TOOLBAR)) {
        // Initialisation still runs to its end; the modal run then ends at once.
        EndDialog(IDCANCEL);
    }

    // Make room for the toolbar: the controls move down by its height and the
    // window grows by as much, keeping its top-left corner.
    RECT before{};
    GetClientRect(window, &before);
    const RECT after =
        RepositionBars(window, ID_TOOLBAR_BAR, ID_CONTROL_BAR_LAST, BarLayoutMode::Query);
    MoveChildren(window, after.left - before.left, after.top - before.top);
    RECT frame{};
    GetWindowRect(window, &frame);
    frame.right += Width(before) - Width(after);
    frame.bottom += Height(before) - Height(after);
    MoveWindow(window, frame.left, frame.top, Width(frame), Height(frame), FALSE);
    RepositionBars(window, ID_TOOLBAR_BAR, ID_CONTROL_BAR_LAST, BarLayoutMode::Place);

    LoadToolBarImages();
    CreateToolTips();
}

void CRelayDlg::LoadToolBarImages() {
    m_toolBarImages.Create(kImageSize, kImageSize, ILC_COLOR24, 3, 3);
    // Indices 0, 1, 2: Start, Stop, Help.
    for (UINT bitmap : {IDB_START, IDB_STOP, IDB_HELP}) {
        m_toolBarImages.AddBitmapResource(Instance(), bitmap);
    }
    m_toolBar.SetImageList(m_toolBarImages.GetSafeHandle());
}

void CRelayDlg::CreateToolTips() {
    m_toolTips.Create(GetSafeHwnd());
    for (int i = 0; i < m_toolBar.ButtonCount(); ++i) {
        TBBUTTON button{};
        if (!m_toolBar.GetButton(i, button) || button.fsStyle != BTNS_BUTTON) {
            continue;  // the separator has no tooltip
        }
        // The tooltip text is the string resource with the command's id.
        m_toolTips.AddTool(m_toolBar.GetSafeHwnd(), static_cast<UINT>(button.idCommand),
                           m_toolBar.GetItemRect(i), Instance(),
                           static_cast<UINT>(button.idCommand));
    }
    m_toolBar.SetToolTips(m_toolTips.GetSafeHwnd());
}

void CRelayDlg::CreateStatusBar() {
    HWND window = GetSafeHwnd();
    RECT frame{};
    GetWindowRect(window, &frame);
    MoveWindow(window, frame.left, frame.top, Width(frame), Height(frame) + kStatusBarHeight,
               FALSE);
    RECT client{};
    GetClientRect(window, &client);
    m_statusBar.Create(window, ID_STATUS_BAR);
    m_statusBar.MoveTo(RECT{0, client.bottom - kStatusBarHeight, Width(client), client.bottom});
    m_statusBar.SetPaneWidths({kStatusPaneWidth, kStatusStretchPaneWidth});
    SetStatusText("Ready");
}
