// The event engine of the headless relay: a few worker threads, each with its
// own I/O context, carry every connection; no thread per connection. Where
// listeners can share a port every worker accepts and keeps its own clients;
// elsewhere one acceptor on the first worker hands each admitted client to the
// workers in turn. It shares with the threaded engine the byte map, the
// traffic counters, the display interface, the allow-list and the refusal
// text, and behaves like it wherever that engine defines the behaviour: the
// limit counts one share per direction still open (a client is admitted while
// the shares are below the limit, and takes both of its shares at once), the
// refusal text and then the end of the stream, the half-close passed on.
//
// What it adds: IPv4 and IPv6, a target name looked up for every connection
// with each of its addresses tried in turn, a cap on the clients of one
// address, connect, first-byte and idle time-outs, a client that leaves while
// its target is being reached noticed at once,
// keep-alive, a graceful stop that lets live connections finish, a reload
// that changes the settings of the clients to come, and typed reports of the
// run and of every client (RelayEvents), which the front end words.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/critical_section.h"
#include "relay/event/address_tally.h"
#include "relay/event/event_connection_host.h"
#include "relay/event/event_listener.h"
#include "relay/event/event_run.h"
#include "relay/event/event_worker.h"
#include "relay/event/listener_set.h"
#include "relay/relay_control.h"
#include "relay/relay_display.h"
#include "relay/relay_events.h"
#include "relay/start_request.h"
#include "stats/traffic_counters.h"

class EventRelayEngine final : public RelayControl, private EventConnectionHost {
  public:
    // workers: threads to run; 0 takes one per core. The display gets the
    // relay shares and the totals; the reports go to `events`.
    EventRelayEngine(RelayDisplay& display, RelayEvents& events, int workers = 0);
    // Reports worded on the display as the window words a run.
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
    bool Drain(std::chrono::milliseconds grace,
               const std::function<void()>& stoppedAccepting) override;
    // Not on a worker thread. While listening: clients accepted once it
    // returns get the request's target,
    // mode, limit, allow-list, time-outs and chunk size; live connections keep
    // theirs. The listener is opened again only when its address or port
    // changed. False (and reported) when the request is refused or the new
    // listener cannot open; the old settings then stay, except that a failed
    // reopen leaves the engine idle.
    bool Reconfigure(const StartRequest& request) override;
    bool KeepsListenerOnReconfigure() const override { return true; }
    // Its destructor joins every thread it began.
    bool ThreadsMayOutliveIt() const override { return false; }
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
    int LiveConnections() const override { return m_live.load(); }
    std::int64_t RefusedCount() const override { return m_refused.load(); }

    // Waits until no connection is left and accepting has ended.
    bool WaitForWorkers(int timeoutMs) override;

  private:
    EventRelayEngine(RelayDisplay& display, RelayEvents* events,
                     std::unique_ptr<RelayEvents> ownReports, int workers);

    // EventConnectionHost, called on the connections' worker threads.
    void AddTraffic(TrafficDirection direction, std::int64_t bytes) override;
    void ReleaseShares(int shares) override;
    void ConnectionOpened(const ConnectionReport& connection) override;
    void ConnectionClosed(const ConnectionEnd& end) override;
    LookupPool& Lookups() override { return m_lookups; }
    void SpareGone() override { m_spareLinks.fetch_sub(1); }

    bool BeginRun(const StartRequest& request, bool resetTotals);
    // Checks the request and makes the run it describes; reports a refusal.
    std::shared_ptr<EventRun> MakeRun(const StartRequest& request);
    void ReportUnresolvedTarget(const EventRun& run);
    void SetState(RunState state);
    // Until the listening run has ended (every acceptor closed).
    bool WaitForRunEnd(std::chrono::milliseconds timeout);
    void Accept(EventListener& listener);
    void OnAccepted(std::error_code error, asio::ip::tcp::socket client,
                    const asio::ip::tcp::endpoint& peer, asio::ip::tcp::socket target,
                    const EventRun* targetOpenedFor, EventWorker& worker, EventListener& listener);
    void RetryAcceptAfterError(EventListener& listener, std::error_code error);
    // Takes both of the client's shares unless the limit is reached.
    bool Admit();
    void Refuse(asio::ip::tcp::socket client, const PeerAddress& peer, const StartRequest& settings,
                RefusalReason reason);
    // Ends the run numbered `run`, once, from any thread.
    void EndRun(unsigned run);
    // On the listener's worker thread; the last one closed ends the run.
    void CloseListener(EventListener& listener);
    void AdjustShares(int delta);
    EventWorker& NextWorker(EventListener& listener);
    // Sealed links opened ahead (event_engine_spares.cpp), on the worker's thread.
    std::shared_ptr<EventConnection> TakeSpare(EventWorker& worker, const EventRun& run);
    void OpenSpares(EventWorker& worker, const std::shared_ptr<const EventRun>& run);
    void CloseSpares(EventWorker& worker);

    RelayDisplay& m_display;
    std::unique_ptr<RelayEvents> m_ownReports;  // when the display words the reports
    RelayEvents& m_events;
    TrafficCounters m_traffic;
    std::vector<std::unique_ptr<EventWorker>> m_workers;
    // After the workers: it ends, and posts no more answers, before their
    // contexts go.
    LookupPool m_lookups;
    ListenerSet m_listeners;
    std::atomic<int> m_openListeners{0};  // of the run that listens
    // The listener as asked for, which a reload compares with.
    net::IpAddress m_bindAddress;
    int m_requestedPort = 0;

    std::atomic<int> m_limit{0};  // compared with m_shares
    std::atomic<bool> m_listening{false};
    std::atomic<bool> m_draining{false};
    std::atomic<RunState> m_state{RunState::Idle};
    std::atomic<std::uint64_t> m_lastId{0};
    // Moves on when a run begins to end, so what that run left pending is told apart.
    std::atomic<unsigned> m_runNumber{0};
    std::atomic<int> m_listeningPort{0};

    CCriticalSection m_csCount;    // a share change together with its display
    std::atomic<int> m_shares{0};  // one per direction still open, as the threaded engine counts
    std::atomic<int> m_live{0};    // open connections
    std::atomic<int> m_spareLinks{0};  // opened ahead, on every worker
    AddressTally m_clientsByAddress;   // every open connection, by its client's address
    std::atomic<std::int64_t> m_denied{0};
    std::atomic<std::int64_t> m_refused{0};
    // Sealed refusals under way; shared with them, since one may end after the engine.
    std::shared_ptr<std::atomic<int>> m_sealedRefusals = std::make_shared<std::atomic<int>>(0);

    std::mutex m_endLock;  // with m_ended: a connection or a run has ended
    std::condition_variable m_ended;
};
