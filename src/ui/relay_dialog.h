// The main window: the settings fields, the toolbar that starts and stops the
// relay, the live displays, the status line and the tray icon. It owns the
// relay engine and shows everything the engine reports.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

#include "framework/image_list.h"
#include "framework/message_map.h"
#include "framework/modal_dialog.h"
#include "framework/status_bar.h"
#include "framework/toolbar.h"
#include "framework/tooltips.h"
#include "platform/critical_section.h"
#include "relay/relay_engine.h"
#include "ui/settings_persistence.h"
#include "ui/tray_icon.h"

class CRelayDlg : public CModalDialog, public RelayDisplay {
  public:
    // hideAtStart: the command line asked for a hidden start.
    CRelayDlg(HINSTANCE instance, bool hideAtStart);
    ~CRelayDlg() override;

    // Takes the icon out of the notification area; the start-up code calls
    // it before it ends the process.
    void RemoveTrayIcon() { m_trayIcon.RemoveFromTray(); }

    // RelayDisplay, callable from any thread.
    void SetStatusText(const std::string& text) override;
    void ShowConnectionCount(int count) override;
    void ShowRunState(RunState state) override;
    void ShowMessage(const std::string& text) override;
    void ShowTrafficTotal(TrafficDirection direction, std::int64_t total) override;

  protected:
    BOOL OnInitDialog() override;
    // Enter and Escape never close the window.
    void OnOK() override {}
    void OnCancel() override {}
    MessageReply OnMessage(const DialogMessage& msg) override;

  private:
    using Row = MessageMapRow<CRelayDlg>;
    static const std::array<Row, 17> kMessageMap;

    // Window messages.
    MessageReply OnPaint(const DialogMessage& msg);
    MessageReply OnQueryDragIcon(const DialogMessage& msg);
    MessageReply OnClose(const DialogMessage& msg);
    MessageReply OnSize(const DialogMessage& msg);
    MessageReply OnTimer(const DialogMessage& msg);
    MessageReply OnWindowPosChanging(const DialogMessage& msg);
    MessageReply OnQueryOpen(const DialogMessage& msg);
    MessageReply OnSysCommand(const DialogMessage& msg);
    MessageReply ForwardTrayMessage(const DialogMessage& msg);
    MessageReply OnTaskbarCreated(const DialogMessage& msg);
    // Notifications.
    MessageReply OnEncodeClientClicked(const DialogMessage& msg);
    MessageReply OnEncodeServerClicked(const DialogMessage& msg);
    // Commands.
    MessageReply OnStartCommand(const DialogMessage& msg);
    MessageReply OnStopCommand(const DialogMessage& msg);
    MessageReply ShowSupportMessage(const DialogMessage& msg);
    MessageReply OnExitCommand(const DialogMessage& msg);
    MessageReply ToggleVisibility(const DialogMessage& msg);

    // Initialisation steps.
    void CreateToolBar();
    void LoadToolBarImages();
    void CreateToolTips();
    void CreateStatusBar();
    void CreateTrayIcon();

    void StartListening();
    void ShowSpeeds();
    void HideAtStart();
    bool Hide();
    void Minimise();

    HICON m_hIcon;
    CToolBar m_toolBar;
    CImageList m_toolBarImages;
    CToolTipCtrl m_toolTips;
    CStatusBar m_statusBar;
    CCriticalSection m_csStatus;
    // The connection count, the byte totals, the hidden flag and their locks.
    RelayEngine m_engine;
    CTrayIcon m_trayIcon;
    // Read once with the other settings; every Start hands it to the engine.
    WindowLinkKey m_linkKey;

    const bool m_hideAtStart;
    // Set once timer 2 has hidden the window, until the user shows it: the
    // dialog manager may show the window after that timer (under Wine it does
    // so when the queue first goes idle), and the window must stay hidden.
    bool m_keepHiddenAtStart = false;
    // Likewise for a window minimised at start because there is no icon: the
    // dialog manager's first show would restore it. Set until the user
    // restores it or one restore has been refused.
    bool m_keepMinimisedAtStart = false;
    const DWORD m_uiThreadId;
};
