// The tray icon and the window's visibility: Show/Hide Window, hiding on
// minimise and hiding at start. Only the icon can show a hidden window again,
// so without it the window is minimised instead of hidden.
#include "framework/dialog_items.h"
#include "framework/string_resource.h"
#include "framework/win32_casts.h"
#include "resource.h"
#include "ui/relay_dialog.h"

void CRelayDlg::CreateTrayIcon() {
    const std::string title = LoadStringResource(Instance(), IDS_APP_TITLE);
    // Without a notification area the program runs on without the icon.
    m_trayIcon.AddToTray(GetSafeHwnd(), WM_TRAY_NOTIFY, title.c_str(), m_hIcon, TRAY_ICON_ID);
}

MessageReply CRelayDlg::ForwardTrayMessage(const DialogMessage& msg) {
    return MessageReply::Handled(m_trayIcon.HandleTrayMessage(msg.wParam, msg.lParam));
}

// The shell has (re)started with an empty notification area. If the icon
// cannot come back, a hidden window comes back minimised, so it can be reached.
MessageReply CRelayDlg::OnTaskbarCreated(const DialogMessage&) {
    if (!m_trayIcon.AddAgain() && !IsWindowVisible(GetSafeHwnd())) {
        m_keepHiddenAtStart = false;
        Minimise();
        m_engine.SetHidden(false);
        m_engine.RefreshTrafficDisplay();
    }
    return MessageReply::Handled();
}

// False, and nothing done, when there is no icon to show the window again.
bool CRelayDlg::Hide() {
    if (!m_trayIcon.IsInTray()) {
        return false;
    }
    ShowWindow(GetSafeHwnd(), SW_HIDE);
    m_engine.SetHidden(true);
    return true;
}

void CRelayDlg::Minimise() {
    ShowWindow(GetSafeHwnd(), SW_SHOWMINNOACTIVE);
}

// A minimised window counts as visible: it is hidden, not restored.
MessageReply CRelayDlg::ToggleVisibility(const DialogMessage&) {
    HWND window = GetSafeHwnd();
    if (IsWindowVisible(window)) {
        if (!Hide()) {
            Minimise();
        }
    } else {
        m_keepHiddenAtStart = false;
        m_keepMinimisedAtStart = false;
        ShowWindow(window, SW_SHOWNORMAL);
        m_engine.SetHidden(false);
        m_engine.RefreshTrafficDisplay();
    }
    return MessageReply::Handled();
}

// Without the icon a minimised window simply stays minimised.
MessageReply CRelayDlg::OnSize(const DialogMessage& msg) {
    if (msg.wParam == SIZE_MINIMIZED && IsItemChecked(GetSafeHwnd(), IDC_MIN_HIDE_TO_TRAY)) {
        Hide();
    }
    return MessageReply::Default();
}

void CRelayDlg::HideAtStart() {
    KillTimer(GetSafeHwnd(), TIMER_HIDE_AT_START);
    // Without the icon the window was minimised when it opened.
    if (m_trayIcon.IsInTray()) {
        m_keepHiddenAtStart = true;
        Hide();
    }
}

// The modal loop shows the dialog once, when its queue first goes idle. Under
// Wine that can come after timer 2 has hidden it, so a show is refused until
// the user asks for the window.
MessageReply CRelayDlg::OnWindowPosChanging(const DialogMessage& msg) {
    if (m_keepHiddenAtStart) {
        auto* position = PointerFromParam<WINDOWPOS>(msg.lParam);
        position->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
    }
    return MessageReply::Default();
}

MessageReply CRelayDlg::OnQueryOpen(const DialogMessage&) {
    if (m_keepMinimisedAtStart) {
        m_keepMinimisedAtStart = false;
        return MessageReply::Handled(FALSE);
    }
    return MessageReply::Default();
}

// A restore the user asks for (the taskbar, the system menu) is never refused.
MessageReply CRelayDlg::OnSysCommand(const DialogMessage& msg) {
    if ((msg.wParam & 0xFFF0) == SC_RESTORE) {
        m_keepMinimisedAtStart = false;
    }
    return MessageReply::Default();
}
