#include "relay/display_reports.h"

#include "relay/run_texts.h"

void DisplayReports::Listening(const ListenStarted& started) {
    m_display.SetStatusText(ListeningStatusText(started.bound.port));
}

void DisplayReports::StartFailed(const StartFailure& failure) {
    if (failure.refusal) {
        m_display.ShowMessage(StartRefusalMessage(*failure.refusal));
        return;
    }
    switch (failure.step) {
        case ListenStep::Socket:
            m_display.ShowMessage(kCreateSocketFailedText);
            break;
        case ListenStep::Bind:
        case ListenStep::Listen:
            m_display.ShowMessage(kListenFailedText);
            break;
        case ListenStep::Thread:
            // The run was shown as listening: the commands go back, the
            // status line stays as it was.
            m_display.ShowRunState(RunState::Idle);
            m_display.ShowMessage(kCreateThreadFailedText);
            break;
    }
}

void DisplayReports::TargetUnresolved(const std::string& host, std::error_code /*error*/) {
    m_display.ShowMessage("warning: target " + host +
                          " does not resolve now; each client looks it up again");
}

void DisplayReports::RunStateChanged(RunState state) {
    // The start of a run is shown with its port by Listening, before this.
    if (state == RunState::Idle) {
        m_display.SetStatusText(kListeningStoppedText);
    }
    m_display.ShowRunState(state);
}

void DisplayReports::AcceptFailed(std::error_code error) {
    m_display.ShowMessage(AcceptErrorText(error.value()));
}
