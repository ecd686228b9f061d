// The engine's reports as log lines: the run starting and ending, and
// every client accepted, opened, closed or refused (refusals in numbers as a
// count; see RefusalSummary).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "relay/relay_events.h"
#include "server/logging/log_writer.h"
#include "server/logging/refusal_summary.h"

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

    // The counts of refusal intervals that have ended; call about once a
    // second, so a count comes out even when no refusal follows.
    void WriteEndedSummaries(RefusalSummary::Clock::time_point now);
    // Every count still held (at stop).
    void WriteAllSummaries(RefusalSummary::Clock::time_point now);

  private:
    void WriteSummaries(const std::vector<RefusalCount>& counts);

    LogWriter& m_log;
    std::string m_engineName;
    std::mutex m_refusalsLock;  // reports come from several worker threads
    RefusalSummary m_refusals;
};

// "127.0.0.1:1988", "[::1]:1988"
std::string PeerText(const PeerAddress& peer);
const char* EncodeModeName(EncodeMode mode);
// The system's text for an error, without the trailing period some systems add.
std::string ErrorText(std::error_code error);
