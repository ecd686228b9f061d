#include "framework/modal_dialog.h"
#include "framework/win32_casts.h"

#include <exception>

namespace {

// Messages whose result the dialog procedure returns itself instead of
// through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
            return true;
        default:
            return false;
    }
}

}  // namespace

CModalDialog::CModalDialog(HINSTANCE instance, UINT templateId)
    : m_hInstance(instance), m_templateId(templateId) {}

CModalDialog::~CModalDialog() = default;

INT_PTR CModalDialog::DoModal() {
    return DialogBoxParamW(m_hInstance, MAKEINTRESOURCEW(m_templateId), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CModalDialog::EndDialog(int result) {
    m_ended = true;
    ::EndDialog(m_hWnd, result);
}

INT_PTR CALLBACK CModalDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CModalDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = PointerFromParam<CModalDialog>(lParam);
        self->m_hWnd = hwnd;
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    } else {
        self = PointerFromParam<CModalDialog>(GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (self == nullptr) {
        return FALSE;  // messages before WM_INITDIALOG
    }
    // No exception may unwind into the dialog manager.
    try {
        return self->HandleMessage(DialogMessage{message, wParam, lParam});
    } catch (const std::exception& error) {
        OutputDebugStringA(error.what());
    } catch (...) {
        OutputDebugStringA("unknown exception in a dialog handler");
    }
    return FALSE;
}

INT_PTR CModalDialog::HandleMessage(const DialogMessage& msg) {
    if (msg.message == WM_INITDIALOG) {
        const BOOL focusFirst = OnInitDialog();
        if (!m_ended) {
            CenterOnScreen();
        }
        return focusFirst;
    }
    const MessageReply reply = OnMessage(msg);
    if (reply.handled()) {
        if (ReturnsResultDirectly(msg.message)) {
            return static_cast<INT_PTR>(reply.result());
        }
        SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, reply.result());
        return TRUE;
    }
    if (msg.message == WM_COMMAND && HIWORD(msg.wParam) == BN_CLICKED) {
        if (LOWORD(msg.wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(msg.wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}

void CModalDialog::CenterOnScreen() const {
    RECT window{};
    GetWindowRect(m_hWnd, &window);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& area = monitor.rcWork;
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const int x = area.left + (area.right - area.left - width) / 2;
    const int y = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
