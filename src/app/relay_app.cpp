#include "app/relay_app.h"

// Winsock 2 before windows.h, which would bring in the old header.
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>

#include "app/background_switch.h"
#include "framework/message_box.h"
#include "framework/string_resource.h"
#include "resource.h"
#include "ui/relay_dialog.h"

namespace {

bool StartWindowsSockets() {
    WSADATA data{};
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
        return false;
    }
    if (data.wVersion != MAKEWORD(1, 1)) {
        WSACleanup();
        return false;
    }
    return true;
}

}  // namespace

bool CRelayApp::InitInstance() {
    if (!StartWindowsSockets()) {
        ShowAppMessage(nullptr, LoadStringResource(Instance(), IDS_SOCKET_ERROR));
        return false;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    CRelayDlg dialog(Instance(), EndsWithBackgroundSwitch(CommandLine()));
    dialog.DoModal();

    // Exit safety: the accept and pump threads are never joined, and they use
    // the dialog's controls, locks and counters. So the process ends here,
    // before the dialog object is destroyed: no worker can run on into freed
    // state. The settings have been saved when the window closed; only the
    // tray icon is left to remove.
    dialog.RemoveTrayIcon();
    ExitProcess(0);
}
