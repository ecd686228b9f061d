// Hands every report of the engine to several listeners in turn (the log
// and the metrics).
#pragma once

#include <initializer_list>
#include <vector>

#include "relay/relay_events.h"

class EventsFanOut final : public RelayEvents {
  public:
    EventsFanOut(std::initializer_list<RelayEvents*> listeners) : m_listeners(listeners) {}

    void Listening(const ListenStarted& started) override {
        Each([&](RelayEvents& e) { e.Listening(started); });
    }
    void StartFailed(const StartFailure& failure) override {
        Each([&](RelayEvents& e) { e.StartFailed(failure); });
    }
    void TargetUnresolved(const std::string& host, std::error_code error) override {
        Each([&](RelayEvents& e) { e.TargetUnresolved(host, error); });
    }
    void RunStateChanged(RunState state) override {
        Each([&](RelayEvents& e) { e.RunStateChanged(state); });
    }
    void ConnectionAccepted(const ConnectionReport& connection) override {
        Each([&](RelayEvents& e) { e.ConnectionAccepted(connection); });
    }
    void ConnectionOpened(const ConnectionReport& connection) override {
        Each([&](RelayEvents& e) { e.ConnectionOpened(connection); });
    }
    void ConnectionClosed(const ConnectionEnd& end) override {
        Each([&](RelayEvents& e) { e.ConnectionClosed(end); });
    }
    void ClientRefused(const PeerAddress& client, RefusalReason reason) override {
        Each([&](RelayEvents& e) { e.ClientRefused(client, reason); });
    }
    void AcceptFailed(std::error_code error) override {
        Each([&](RelayEvents& e) { e.AcceptFailed(error); });
    }

  private:
    template <typename Call>
    void Each(Call call) {
        for (RelayEvents* listener : m_listeners) {
            call(*listener);
        }
    }

    std::vector<RelayEvents*> m_listeners;
};
