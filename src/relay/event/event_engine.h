// The event engine of the headless relay: a few worker threads, each with its
// own I/O context, carry every connection; no thread per connection. The
// acceptor lives on the first worker and hands each admitted client to the
// workers in turn. It shares with the threaded engine the byte map, the
// traffic counters, the display interface, the allow-list and the refusal
// text, and behaves like it wherever that engine defines the behaviour: the
// limit counts one share per direction still open, the refusal text and then
// the end of the stream, the half-close passed on.
//
// What it adds: IPv4 and IPv6, a target name looked up for every connection
// with each of its addresses tried in turn, connect and idle time-outs,
// keep-alive, and a graceful stop that lets live connections finish.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/critical_section.h"
#include "relay/event/event_connection.h"
#include "relay/event/event_run.h"
#include "relay/event/event_worker.h"
#include "relay/relay_control.h"
#include "relay/relay_display.h"
#include "relay/start_request.h"
#include "stats/traffic_counters.h"

class EventRelayEngine final : public RelayControl, private EventConnectionHost {
  public:
    // workers: threads to run; 0 takes one per core.
    explicit EventRelayEngine(RelayDisplay& display, int workers = 0);
    // Closes every connection and joins the workers.
    ~EventRelayEngine() override;
    EventRelayEngine(const EventRelayEngine&) = delete;
    EventRelayEngine& operator=(const EventRelayEngine&) = delete;

    // Opens the listener and starts accepting; on a refusal the reason has
    // been shown with ShowMessage and false is returned.
    bool StartListening(const StartRequest& request) override;
    // Stops accepting; live connections go on.
    void StopListening() override;
    // Stops accepting and lets live connections finish for up to `grace`,
    // then closes the rest. True when all had finished by themselves.
    bool Drain(std::chrono::milliseconds grace);
    // Closes every live connection at once.
    void CloseAll();

    SpeedSample TickSpeeds() override { return m_traffic.Tick(); }
    void SetHidden(bool hidden) override { m_traffic.SetHidden(hidden); }
    void RefreshTrafficDisplay() override { m_traffic.RefreshTrafficDisplay(); }
    int ConnectionCount() const override { return m_shares.load(); }
    std::int64_t BytesUp() const override { return m_traffic.BytesUp(); }
    std::int64_t BytesDown() const override { return m_traffic.BytesDown(); }
    int ListeningPort() const override { return m_listeningPort.load(); }
    bool IsListening() const override { return m_listening.load(); }
    std::int64_t DeniedCount() const override { return m_denied.load(); }
    int LiveConnections() const { return m_live.load(); }  // clients
    std::int64_t RefusedCount() const { return m_refused.load(); }
    int WorkerCount() const { return static_cast<int>(m_workers.size()); }

    // Waits until no connection is left and accepting has ended.
    bool WaitForWorkers(int timeoutMs) override;

  private:
    // EventConnectionHost, called on the connections' worker threads.
    EncodeMode Mode() const override { return m_mode.load(std::memory_order_relaxed); }
    void AddTraffic(TrafficDirection direction, std::int64_t bytes) override;
    void TakeShare() override;
    void ReleaseShares(int shares) override;
    void ConnectionClosed(CloseReason reason) override;

    bool OpenAcceptor(const StartRequest& request, int port);
    void Accept();
    void OnAccepted(std::error_code error, asio::ip::tcp::socket client,
                    const asio::ip::tcp::endpoint& peer, asio::ip::tcp::socket target,
                    EventWorker& worker);
    void RetryAcceptAfterError(std::error_code error);
    bool IsAllowed(const net::IpAddress& client) const;
    void Refuse(asio::ip::tcp::socket client);
    void EndAccepting();
    void AdjustShares(int delta);
    EventWorker& NextWorker();

    RelayDisplay& m_display;
    TrafficCounters m_traffic;
    std::vector<std::unique_ptr<EventWorker>> m_workers;

    // Accepting, on the first worker's thread.
    asio::ip::tcp::acceptor m_acceptor;
    asio::steady_timer m_acceptRetry;
    std::shared_ptr<const EventRun> m_run;
    std::vector<net::IpRange> m_allowFrom;
    std::size_t m_nextWorker = 0;

    std::atomic<EncodeMode> m_mode{EncodeMode::None};  // read afresh per chunk
    std::atomic<int> m_limit{0};                       // compared with m_shares
    std::atomic<bool> m_listening{false};
    // Moves on when a run ends, so what that run left pending is told apart.
    std::atomic<unsigned> m_runNumber{0};
    std::atomic<int> m_listeningPort{0};

    CCriticalSection m_csCount;    // a share change together with its display
    std::atomic<int> m_shares{0};  // one per direction still open, as the threaded engine counts
    std::atomic<int> m_live{0};    // open connections
    std::atomic<std::int64_t> m_denied{0};
    std::atomic<std::int64_t> m_refused{0};

    std::mutex m_endLock;  // with m_ended: a connection or a run has ended
    std::condition_variable m_ended;
};
