#include "relay/display_reports.h"

#include "relay/run_texts.h"

void DisplayReports::Listening(const ListenStarted& started) {
    m_display.SetStatusText(ListeningStatusText(started.bound.port));
    m_display.EnableCommand(RelayCommand::Start, false);
    m_display.EnableCommand(RelayCommand::Stop, true);
}

void DisplayReports::StartFailed(const StartFailure& failure) {
    if (failure.refusal) {
        m_display.ShowMessage(StartRefusalMessage(*failure.refusal));
    } else if (failure.step == ListenStep::Socket) {
        m_display.ShowMessage(kCreateSocketFailedText);
    } else {
        m_display.ShowMessage(kListenFailedText);
    }
}

void DisplayReports::TargetUnresolved(const std::string& host, std::error_code /*error*/) {
    m_display.ShowMessage("warning: target " + host +
                          " does not resolve now; each client looks it up again");
}

void DisplayReports::RunStateChanged(RunState state) {
    switch (state) {
        case RunState::Listening:
            break;  // shown with the port by Listening
        case RunState::Stopping:
            m_display.EnableCommand(RelayCommand::Stop, false);
            break;
        case RunState::Idle:
            m_display.SetStatusText(kListeningStoppedText);
            m_display.EnableCommand(RelayCommand::Stop, false);
            m_display.EnableCommand(RelayCommand::Start, true);
            break;
    }
}

void DisplayReports::AcceptFailed(std::error_code error) {
    m_display.ShowMessage(AcceptErrorText(error.value()));
}
