#include "ui/tray_icon.h"

#include <cstddef>
#include <cstring>

namespace {

// The first, smallest form of the record: its tooltip field holds 64 bytes.
// 88 bytes on 32-bit Windows; on 64-bit the wider handles give it its own size.
constexpr DWORD kRecordSize = NOTIFYICONDATAA_V1_SIZE;
constexpr std::size_t kTipCapacity = 64;
static_assert(kRecordSize == offsetof(NOTIFYICONDATAA, szTip) + kTipCapacity,
              "the shell's first record layout ends with its 64-byte tooltip");
static_assert(sizeof(void*) != 4 || kRecordSize == 88, "the 32-bit first record layout");

// The tray's pop-up menu: the menu resource with the icon's id and its first
// sub-menu, whose first item (Show/Hide Window) is the default action.
class TrayMenu {
  public:
    explicit TrayMenu(UINT id)
        : m_menu(LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id))),
          m_popup(m_menu != nullptr ? GetSubMenu(m_menu, 0) : nullptr) {}
    ~TrayMenu() {
        if (m_menu != nullptr) {
            DestroyMenu(m_menu);
        }
    }
    TrayMenu(const TrayMenu&) = delete;
    TrayMenu& operator=(const TrayMenu&) = delete;

    // Null when the menu or its sub-menu is missing.
    HMENU Popup() const { return m_popup; }

  private:
    HMENU m_menu;
    HMENU m_popup;
};

}  // namespace

UINT TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageA("TaskbarCreated");
    return message;
}

CTrayIcon::CTrayIcon() : m_bInTray(FALSE), m_nid{} {}

CTrayIcon::~CTrayIcon() {
    RemoveFromTray();
}

bool CTrayIcon::AddToTray(HWND owner, UINT callbackMessage, const char* tooltip, HICON icon,
                          UINT id) {
    m_bInTray = LOBYTE(LOWORD(GetVersion())) >= 4;
    if (!m_bInTray) {
        return false;
    }
    m_bInTray = owner != nullptr && IsWindow(owner);
    if (!m_bInTray) {
        return false;
    }
    m_nid.cbSize = kRecordSize;
    m_nid.hWnd = owner;
    m_nid.uID = id;
    m_nid.hIcon = icon;
    m_nid.uCallbackMessage = callbackMessage;
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    std::memset(m_nid.szTip, 0, kTipCapacity);
    if (tooltip != nullptr) {
        std::strncpy(m_nid.szTip, tooltip, kTipCapacity - 1);
    }
    m_bRecordFilled = true;
    m_bInTray = Shell_NotifyIconA(NIM_ADD, &m_nid);
    return m_bInTray != FALSE;
}

bool CTrayIcon::AddAgain() {
    if (!m_bRecordFilled) {
        return false;
    }
    // The message also comes when the shell did not lose the icon (a display
    // change, say); the add then fails and the icon is merely refreshed.
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_bInTray = Shell_NotifyIconA(NIM_ADD, &m_nid) || Shell_NotifyIconA(NIM_MODIFY, &m_nid);
    return m_bInTray != FALSE;
}

void CTrayIcon::RemoveFromTray() {
    if (!m_bInTray) {
        return;
    }
    m_nid.uFlags = 0;
    Shell_NotifyIconA(NIM_DELETE, &m_nid);
    m_bInTray = FALSE;
}

LRESULT CTrayIcon::HandleTrayMessage(WPARAM id, LPARAM event) {
    if (id != m_nid.uID) {
        return 0;
    }
    switch (LOWORD(event)) {
        case WM_RBUTTONUP: {
            TrayMenu menu(m_nid.uID);
            if (menu.Popup() == nullptr) {
                return 0;
            }
            SetMenuDefaultItem(menu.Popup(), 0, TRUE);
            POINT cursor{};
            GetCursorPos(&cursor);
            // Without a foreground owner the menu would not close when the user
            // clicks elsewhere; the WM_NULL afterwards lets the next click through.
            SetForegroundWindow(m_nid.hWnd);
            TrackPopupMenu(menu.Popup(), 0, cursor.x, cursor.y, 0, m_nid.hWnd, nullptr);
            PostMessageA(m_nid.hWnd, WM_NULL, 0, 0);
            return 1;
        }
        case WM_LBUTTONDBLCLK: {
            TrayMenu menu(m_nid.uID);
            if (menu.Popup() == nullptr) {
                return 0;
            }
            // Exactly what choosing the menu's first item does.
            SetForegroundWindow(m_nid.hWnd);
            SendMessageA(m_nid.hWnd, WM_COMMAND, GetMenuItemID(menu.Popup(), 0), 0);
            return 1;
        }
        default:
            return 1;
    }
}
