// An engine's reports worded as the window words a run: its status texts, its
// run state (which the Start and Stop commands follow) and its messages. The
// only wording of a run for the window; the headless relay words the reports
// as log lines instead.
#pragma once

#include "relay/relay_display.h"
#include "relay/relay_events.h"

class DisplayReports final : public RelayEvents {
  public:
    explicit DisplayReports(RelayDisplay& display) : m_display(display) {}

    void Listening(const ListenStarted& started) override;
    void StartFailed(const StartFailure& failure) override;
    void TargetUnresolved(const std::string& host, std::error_code error) override;
    void RunStateChanged(RunState state) override;
    void ConnectionAccepted(const ConnectionReport& /*connection*/) override {}
    void ConnectionOpened(const ConnectionReport& /*connection*/) override {}
    void ConnectionClosed(const ConnectionEnd& /*end*/) override {}
    void ClientRefused(const PeerAddress& /*client*/, RefusalReason /*reason*/) override {}
    void AcceptFailed(std::error_code error) override;

  private:
    RelayDisplay& m_display;
};
