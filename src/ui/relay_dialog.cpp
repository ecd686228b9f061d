#include "ui/relay_dialog.h"

#include "framework/application.h"
#include "framework/dialog_items.h"
#include "resource.h"
#include "ui/settings_persistence.h"

// In this order; the first matching row handles a message.
const std::array<CRelayDlg::Row, 17> CRelayDlg::kMessageMap = {{
    {WM_PAINT, 0, 0, &CRelayDlg::OnPaint},
    {WM_QUERYDRAGICON, 0, 0, &CRelayDlg::OnQueryDragIcon},
    {WM_CLOSE, 0, 0, &CRelayDlg::OnClose},
    {WM_COMMAND, BN_CLICKED, IDC_ENCODE_CLIENT, &CRelayDlg::OnEncodeClientClicked},
    {WM_COMMAND, BN_CLICKED, IDC_ENCODE_SERVER, &CRelayDlg::OnEncodeServerClicked},
    {WM_COMMAND, 0, ID_TOGGLE_WINDOW, &CRelayDlg::ToggleVisibility},
    {WM_COMMAND, 0, ID_EXIT, &CRelayDlg::OnExitCommand},
    {WM_SIZE, 0, 0, &CRelayDlg::OnSize},
    {WM_TIMER, 0, 0, &CRelayDlg::OnTimer},
    {WM_COMMAND, 0, ID_START, &CRelayDlg::OnStartCommand},
    {WM_COMMAND, 0, ID_STOP, &CRelayDlg::OnStopCommand},
    {WM_COMMAND, 0, ID_HELP_SUPPORT, &CRelayDlg::ShowSupportMessage},
    {WM_TRAY_NOTIFY, 0, 0, &CRelayDlg::ForwardTrayMessage},
    {WM_WINDOWPOSCHANGING, 0, 0, &CRelayDlg::OnWindowPosChanging},
    {WM_QUERYOPEN, 0, 0, &CRelayDlg::OnQueryOpen},
    {WM_SYSCOMMAND, 0, 0, &CRelayDlg::OnSysCommand},
    // Registered when the program starts, so not a constant.
    {TaskbarCreatedMessage(), 0, 0, &CRelayDlg::OnTaskbarCreated},
}};

CRelayDlg::CRelayDlg(HINSTANCE instance, bool hideAtStart)
    : CModalDialog(instance, IDD_RELAY_DIALOG),
      m_hIcon(LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_engine(*this),
      m_hideAtStart(hideAtStart),
      m_uiThreadId(GetCurrentThreadId()) {}

CRelayDlg::~CRelayDlg() = default;

MessageReply CRelayDlg::OnMessage(const DialogMessage& msg) {
    return DispatchMessageMap(*this, kMessageMap, msg);
}

BOOL CRelayDlg::OnInitDialog() {
    HWND window = GetSafeHwnd();
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    m_engine.SetHidden(false);
    m_engine.ResetTrafficCounters();

    CreateToolBar();
    CreateStatusBar();
    CreateTrayIcon();
    ShowRunState(RunState::Idle);

    PersistSettings(window, PersistDirection::Load);
    m_linkKey = LoadLinkKey(SettingsPath(), CApplication::Current().AppName());
    if (IsItemChecked(window, IDC_AUTO_START)) {
        StartListening();
    }
    SetTimer(window, TIMER_SPEED, 1000, nullptr);
    if (m_hideAtStart) {
        // Without an icon the window starts minimised instead of hidden.
        if (!m_trayIcon.IsInTray()) {
            Minimise();
            m_keepMinimisedAtStart = true;
        }
        SetTimer(window, TIMER_HIDE_AT_START, 10, nullptr);
    }
    return TRUE;
}
