// The program's icon in the notification area and its mouse events.
#pragma once

#include <windows.h>

#include <shellapi.h>

// The message the shell broadcasts to every top-level window when it starts
// (again) and its notification area is empty.
UINT TaskbarCreatedMessage();

class CTrayIcon {
  public:
    CTrayIcon();
    // Takes the icon out of the notification area.
    virtual ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // False when the system has no notification area, the owner is not a
    // window or the shell refuses the icon; the program then runs without it.
    // A tooltip longer than the record's field is cut short.
    bool AddToTray(HWND owner, UINT callbackMessage, const char* tooltip, HICON icon, UINT id);
    // The shell has started again and lost every icon: adds this one anew
    // from the record AddToTray filled. False when AddToTray refused before
    // filling it or the shell refuses again.
    bool AddAgain();
    void RemoveFromTray();
    // A mouse event on the icon: id is the callback's first parameter, event
    // its second. Returns 0 for another icon's id or a missing menu, else 1.
    virtual LRESULT HandleTrayMessage(WPARAM id, LPARAM event);

    bool IsInTray() const { return m_bInTray != FALSE; }
    // The record as the shell receives it.
    const NOTIFYICONDATAA& Data() const { return m_nid; }

  private:
    BOOL m_bInTray;
    bool m_bRecordFilled = false;
    NOTIFYICONDATAA m_nid;
};
