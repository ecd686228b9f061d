// The HTTP endpoint of --metrics: GET /metrics answers with the text a
// callback builds for each request. One thread with its own I/O context
// serves every client, within MetricsLimits; each answer closes its
// connection. Silent or slow clients in any number cannot keep a scraper
// out: each must send its head soon, and a new client pushes out an old one.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/ip_address.h"

// Why Start could not listen: the failed step ("open", "bind", "listen")
// and the system's error.
struct MetricsStartError {
    const char* step = "";
    std::error_code error;
};

struct MetricsLimits {
    // A longer request head is answered with 431.
    std::size_t maxHeadBytes = std::size_t{8} * 1024;
    // Time from the accept to the end of the request head: a scraper sends
    // it at once, so a client that dawdles is closed.
    std::chrono::milliseconds headTimeout{2000};
    // Time for the whole exchange, so a client that does not read its answer
    // loses its place; then its connection is closed.
    std::chrono::milliseconds clientTimeout{5000};
    // Clients served at once. Another one is still taken at once: the oldest
    // client still sending its head (else the oldest of all) is closed to
    // make room, so a flood of connections cannot queue a scraper behind it.
    std::size_t maxClients = 16;
};

class MetricsServer {
  public:
    using BodySource = std::function<std::string()>;

    // `body` runs on the server's thread, once per GET /metrics.
    explicit MetricsServer(BodySource body, MetricsLimits limits = {});
    ~MetricsServer();  // Stop
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Listens on the address (IPv4 or IPv6) and port (0: the system picks)
    // and starts the thread. Call once.
    std::optional<MetricsStartError> Start(const net::IpAddress& address, std::uint16_t port);
    // The port as bound, once started.
    std::uint16_t Port() const { return m_port; }
    // Closes the listener and every client and joins the thread. Idempotent.
    void Stop();

  private:
    class Session;

    void Accept();
    void MakeRoom();
    void Finished(const std::shared_ptr<Session>& session);
    void CloseAll();

    BodySource m_body;
    MetricsLimits m_limits;
    asio::io_context m_io;
    asio::ip::tcp::acceptor m_acceptor;
    asio::steady_timer m_acceptRetry;  // after a failed accept
    // Touched on the server's thread only, once it runs; oldest first.
    std::vector<std::shared_ptr<Session>> m_sessions;
    bool m_accepting = false;  // an accept is pending
    bool m_stopping = false;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};
