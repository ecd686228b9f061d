// What the engine shows: status line, toolbar states, count, totals, speeds
// and messages. Worker threads call these; every control update is a
// synchronous message that the window's thread carries out.
#include "framework/dialog_items.h"
#include "framework/message_box.h"
#include "platform/critical_section.h"
#include "resource.h"
#include "stats/byte_size.h"
#include "ui/relay_dialog.h"

void CRelayDlg::SetStatusText(const std::string& text) {
    CScopedLock lock(m_csStatus);
    m_statusBar.SetText(0, text);
}

void CRelayDlg::ShowConnectionCount(int count) {
    SetDlgItemInt(GetSafeHwnd(), IDC_CONNECTION_COUNT, static_cast<UINT>(count), TRUE);
}

// The toolbar's Start and Stop follow the run: Idle (also once initialised):
// Start on, Stop off; Listening: Start off, Stop on; Stopping: both off. A
// refused Start changes nothing. The button that goes off goes first, so the
// two are never both enabled and no second run can begin between the updates.
void CRelayDlg::ShowRunState(RunState state) {
    if (state == RunState::Listening) {
        m_toolBar.EnableButton(ID_START, false);
        m_toolBar.EnableButton(ID_STOP, true);
    } else {
        m_toolBar.EnableButton(ID_STOP, false);
        m_toolBar.EnableButton(ID_START, state == RunState::Idle);
    }
}

void CRelayDlg::ShowMessage(const std::string& text) {
    // A box shown by a worker thread gets no owner: owning the window of
    // another thread would tie the two threads' input together.
    const bool onWindowThread = GetCurrentThreadId() == m_uiThreadId;
    ShowAppMessage(onWindowThread ? GetSafeHwnd() : nullptr, text);
}

void CRelayDlg::ShowTrafficTotal(TrafficDirection direction, std::int64_t total) {
    const int id = direction == TrafficDirection::ClientToServer ? IDC_BYTES_UP : IDC_BYTES_DOWN;
    SetItemText(GetSafeHwnd(), id, FormatByteSize(total));
}

void CRelayDlg::ShowSpeeds() {
    const SpeedSample sample = m_engine.TickSpeeds();
    if (sample.show) {
        SetItemText(GetSafeHwnd(), IDC_SPEED_UP, FormatByteSize(sample.up) + "/s");
        SetItemText(GetSafeHwnd(), IDC_SPEED_DOWN, FormatByteSize(sample.down) + "/s");
    }
}

MessageReply CRelayDlg::OnTimer(const DialogMessage& msg) {
    switch (msg.wParam) {
        case TIMER_SPEED:
            ShowSpeeds();
            break;
        case TIMER_HIDE_AT_START:
            HideAtStart();
            break;
        default:
            break;
    }
    return MessageReply::Handled();
}
