// Start, Stop, Help, the encoding boxes, painting and closing.
#include "framework/dialog_items.h"
#include "framework/message_box.h"
#include "relay/start_request.h"
#include "resource.h"
#include "settings/field_integer.h"
#include "ui/relay_dialog.h"
#include "ui/settings_persistence.h"

namespace {

constexpr int kWindowBacklog = 0;

bool IsToolbarButtonEnabled(HWND dialog, UINT command) {
    return SendDlgItemMessageA(dialog, ID_TOOLBAR_BAR, TB_ISBUTTONENABLED, command, 0) != 0;
}

}  // namespace

void CRelayDlg::StartListening() {
    HWND window = GetSafeHwnd();
    // The fields are read as the window always read them: a number field
    // that is not a number counts as 0, and Start refuses what is out of range.
    StartRequest request;
    request.encode = ChooseEncodeMode(IsItemChecked(window, IDC_ENCODE_CLIENT),
                                      IsItemChecked(window, IDC_ENCODE_SERVER));
    request.targetText = GetItemText(window, IDC_TARGET_ADDR);
    request.targetPort = ReadFieldInteger(GetItemText(window, IDC_TARGET_PORT));
    request.connectionLimit = ReadFieldInteger(GetItemText(window, IDC_CONNECTION_LIMIT));
    request.localPort = ReadFieldInteger(GetItemText(window, IDC_LOCAL_PORT));
    request.backlog = kWindowBacklog;
    request.chunkSize = kClassicChunkSize;
    request.linkKey = m_linkKey.key;
    request.linkKeyMalformed = m_linkKey.malformed;
    // A refusal has been shown as a message box; nothing else changes.
    m_engine.StartListening(request);
}

// A disabled button issues no command; a command sent from elsewhere while
// its button is disabled is ignored too, so at most one run ever exists.
MessageReply CRelayDlg::OnStartCommand(const DialogMessage&) {
    if (IsToolbarButtonEnabled(GetSafeHwnd(), ID_START)) {
        StartListening();
    }
    return MessageReply::Handled();
}

MessageReply CRelayDlg::OnStopCommand(const DialogMessage&) {
    if (IsToolbarButtonEnabled(GetSafeHwnd(), ID_STOP)) {
        m_engine.StopListening();
    }
    return MessageReply::Handled();
}

MessageReply CRelayDlg::ShowSupportMessage(const DialogMessage&) {
    ShowAppMessage(GetSafeHwnd(), "For support, see the README that comes with Vorlane.");
    return MessageReply::Handled();
}

// The boxes are automatic: the click has already toggled the clicked box.
MessageReply CRelayDlg::OnEncodeClientClicked(const DialogMessage&) {
    if (IsItemChecked(GetSafeHwnd(), IDC_ENCODE_CLIENT)) {
        SetItemChecked(GetSafeHwnd(), IDC_ENCODE_SERVER, false);
    }
    return MessageReply::Handled();
}

MessageReply CRelayDlg::OnEncodeServerClicked(const DialogMessage&) {
    if (IsItemChecked(GetSafeHwnd(), IDC_ENCODE_SERVER)) {
        SetItemChecked(GetSafeHwnd(), IDC_ENCODE_CLIENT, false);
    }
    return MessageReply::Handled();
}

MessageReply CRelayDlg::OnPaint(const DialogMessage&) {
    HWND window = GetSafeHwnd();
    if (!IsIconic(window)) {
        return MessageReply::Default();
    }
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    RECT client{};
    GetClientRect(window, &client);
    const int x = (client.right - client.left - cx + 1) / 2;
    const int y = (client.bottom - client.top - cy + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(window, &paint);
    return MessageReply::Handled();
}

MessageReply CRelayDlg::OnQueryDragIcon(const DialogMessage&) {
    return MessageReply::Handled(reinterpret_cast<LRESULT>(m_hIcon));
}

// The close box, Alt+F4 and the system menu. Listening runs and connections
// are left alone: the process ends right after the modal run.
MessageReply CRelayDlg::OnClose(const DialogMessage&) {
    if (!PersistSettings(GetSafeHwnd(), PersistDirection::Save)) {
        // One box for the file, however many keys failed; the window closes all the same.
        ShowMessage("Cannot save settings to " + Utf8FromAnsi(SettingsPath()) + "!");
    }
    // The dialog manager's own answer to WM_CLOSE is an IDCANCEL command,
    // which this window ignores; the dialog ends here instead.
    EndDialog(IDCANCEL);
    return MessageReply::Handled();
}

MessageReply CRelayDlg::OnExitCommand(const DialogMessage& msg) {
    return OnClose(msg);
}
