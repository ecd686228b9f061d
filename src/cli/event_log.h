// The event engine's reports as log lines: the run starting and ending, and
// every client accepted, opened, closed or refused.
#pragma once

#include <string>

#include "cli/log_writer.h"
#include "relay/relay_events.h"

class EventLog final : public RelayEvents {
  public:
    EventLog(LogWriter& log, std::string engineName)
        : m_log(log), m_engineName(std::move(engineName)) {}

    void Listening(const ListenStarted& started) override;
    void StartFailed(const StartFailure& failure) override;
    void TargetUnresolved(const std::string& host, std::error_code error) override;
    void RunStateChanged(RunState state) override;
    void ConnectionAccepted(const ConnectionReport& connection) override;
    void ConnectionOpened(const ConnectionReport& connection) override;
    void ConnectionClosed(const ConnectionEnd& end) override;
    void ClientRefused(const PeerAddress& client, RefusalReason reason) override;
    void AcceptFailed(std::error_code error) override;

  private:
    LogWriter& m_log;
    std::string m_engineName;
};

// "127.0.0.1:1988", "[::1]:1988"
std::string PeerText(const PeerAddress& peer);
const char* EncodeModeName(EncodeMode mode);
// The system's text for an error, without the trailing period some systems add.
std::string ErrorText(std::error_code error);
