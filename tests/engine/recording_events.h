// What an engine reports, kept for a test to read from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "relay/relay_events.h"

namespace testing_support {

class RecordingEvents final : public RelayEvents {
  public:
    void Listening(const ListenStarted& /*started*/) override {}
    void StartFailed(const StartFailure& /*failure*/) override {}
    void TargetUnresolved(const std::string& /*host*/, std::error_code /*error*/) override {}
    void RunStateChanged(RunState /*state*/) override {}
    void ConnectionAccepted(const ConnectionReport& connection) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_accepted.push_back(connection);
    }
    void ConnectionOpened(const ConnectionReport& connection) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_opened.push_back(connection);
    }
    void ConnectionClosed(const ConnectionEnd& end) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed.push_back(end);
    }
    void ClientRefused(const PeerAddress& client, RefusalReason reason) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_refused.push_back({client, reason});
    }
    void AcceptFailed(std::error_code /*error*/) override {}

    struct Refusal {
        PeerAddress client;
        RefusalReason reason;
    };
    std::vector<ConnectionReport> Accepted() const { return Copy(m_accepted); }
    std::vector<ConnectionReport> Opened() const { return Copy(m_opened); }
    std::vector<ConnectionEnd> Closed() const { return Copy(m_closed); }
    std::vector<Refusal> Refused() const { return Copy(m_refused); }

  private:
    template <typename T>
    std::vector<T> Copy(const std::vector<T>& list) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return list;
    }

    mutable std::mutex m_mutex;
    std::vector<ConnectionReport> m_accepted;
    std::vector<ConnectionReport> m_opened;
    std::vector<ConnectionEnd> m_closed;
    std::vector<Refusal> m_refused;
};

}  // namespace testing_support
