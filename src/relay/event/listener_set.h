// The event engine's acceptors and how they open on one address and port.
// Where listeners can share a port every worker has one; elsewhere the first
// worker has the only one. Accepting on them is the engine's.
#pragma once

#include <asio/ip/tcp.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/ip_address.h"
#include "relay/event/event_listener.h"
#include "relay/event/event_worker.h"
#include "relay/relay_events.h"

class ListenerSet {
  public:
    explicit ListenerSet(const std::vector<std::unique_ptr<EventWorker>>& workers);

    // Opens every acceptor, listening. Without a bind address they take both
    // families on one socket (dual-stack); where IPv6 is missing, IPv4 alone.
    // On a failure every acceptor is closed and the failure names the step.
    // Only while no run uses the acceptors.
    std::optional<StartFailure> Open(const net::IpAddress& bind, std::uint16_t port, int backlog);
    void Close();
    // Where the acceptors listen, as the system bound it.
    asio::ip::tcp::endpoint LocalEndpoint() const;
    // More than one acceptor: each keeps the clients it accepts.
    bool SharePort() const { return m_listeners.size() > 1; }
    std::size_t Count() const { return m_listeners.size(); }

    auto begin() const { return m_listeners.begin(); }
    auto end() const { return m_listeners.end(); }

  private:
    std::error_code OpenGroup(const asio::ip::tcp::endpoint& endpoint, bool dualStack, int backlog,
                              ListenStep& step);

    std::vector<std::unique_ptr<EventListener>> m_listeners;
};
