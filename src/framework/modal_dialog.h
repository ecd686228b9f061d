// A modal dialog from a resource template, run by DialogBoxParam. Messages
// reach the derived class's message map through OnMessage; whatever it does
// not handle goes to the dialog manager.
#pragma once

#include <windows.h>

#include "framework/dialog_message.h"

class CModalDialog {
  public:
    CModalDialog(HINSTANCE instance, UINT templateId);
    virtual ~CModalDialog();
    CModalDialog(const CModalDialog&) = delete;
    CModalDialog& operator=(const CModalDialog&) = delete;

    // Runs the dialog until EndDialog; returns the value given to it (-1 when
    // the window could not be created).
    INT_PTR DoModal();

    HWND GetSafeHwnd() const { return m_hWnd; }
    HINSTANCE Instance() const { return m_hInstance; }
    void EndDialog(int result);

  protected:
    // The dialog's initialisation; returns true to give the focus to the
    // first tab stop. The window is centred on the screen afterwards.
    virtual BOOL OnInitDialog() { return TRUE; }
    // The Enter key (IDOK) and the Escape key (IDCANCEL) end the dialog
    // unless a derived class says otherwise.
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // The derived class's message map.
    virtual MessageReply OnMessage(const DialogMessage& msg) = 0;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(const DialogMessage& msg);
    void CenterOnScreen() const;

    HINSTANCE m_hInstance;
    UINT m_templateId;
    HWND m_hWnd = nullptr;
    bool m_ended = false;
};
