// The relay engine: one listening run at a time, two pump threads per
// connection, the connection count and the byte totals. It knows no window:
// it draws the count and the totals on a RelayDisplay and reports its run and
// its clients as RelayEvents.
//
// PUBLIC INTERFACE (fixed; the dialog and the headless relay build on it).
// The private part is the engine's own and may change.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/critical_section.h"
#include "platform/socket_handle.h"
#include "platform/thread_start.h"
#include "platform/wake_signal.h"
#include "relay/byte_map.h"
#include "relay/relay_control.h"
#include "relay/relay_display.h"
#include "relay/relay_events.h"
#include "relay/start_request.h"
#include "stats/traffic_counters.h"

struct RelayConnection;

class RelayEngine final : public RelayControl {
  public:
    // Reports worded on the display as the window words a run.
    explicit RelayEngine(RelayDisplay& display);
    // The display gets the count and the totals; the reports go to `events`.
    RelayEngine(RelayDisplay& display, RelayEvents& events);
    // Only valid once no worker thread is left (see WaitForWorkers).
    ~RelayEngine() override;
    RelayEngine(const RelayEngine&) = delete;
    RelayEngine& operator=(const RelayEngine&) = delete;

    // Start command (UI thread). On a refusal the reason has been reported
    // and false is returned; true once the accept thread runs.
    bool StartListening(const StartRequest& request) override;
    // Stop command (UI thread): ends the listening run, not its connections.
    void StopListening() override;
    // A new run with the request's settings; the old run's connections keep theirs.
    bool Reconfigure(const StartRequest& request) override;
    bool KeepsListenerOnReconfigure() const override { return false; }
    // Stops listening and waits for the connections; it never cuts them.
    bool Drain(std::chrono::milliseconds grace,
               const std::function<void()>& stoppedAccepting) override;
    // Its threads are never joined or stopped.
    bool ThreadsMayOutliveIt() const override { return true; }

    // Speed tick (UI thread, once a second): growth of both totals since the
    // previous tick; the samples move on whether or not the display is hidden.
    SpeedSample TickSpeeds() override;
    // Redraws both totals through the display (UI thread, no lock taken).
    void RefreshTrafficDisplay() override;
    void ResetTrafficCounters();

    // While hidden, totals are counted but not shown; the count is always shown.
    void SetHidden(bool hidden) override;

    int ConnectionCount() const override;
    int LiveConnections() const override;
    std::int64_t BytesUp() const override;
    std::int64_t BytesDown() const override;
    // Local port of the current or last run as the system bound it (a run on port 0 gets one).
    int ListeningPort() const override;
    bool IsListening() const override;  // an accept thread exists
    // Clients closed at once because no allowFrom range holds their address.
    std::int64_t DeniedCount() const override;
    std::int64_t RefusedCount() const override;

    // Waits until no accept or pump thread is left, at most timeoutMs. For
    // tests and for a clean exit of the headless relay.
    bool WaitForWorkers(int timeoutMs) override;

  private:
    friend unsigned gAcceptThread(void* argument);
    friend unsigned gClientThread(void* argument);
    friend unsigned gServerThread(void* argument);
    friend unsigned gSealedRefusalThread(void* argument);
    friend class ConnectionCountShare;
    friend struct ConnectionSockets;
    template <unsigned (RelayEngine::*Pump)(RelayConnection&)>
    friend unsigned RunPumpThread(void* argument);

    // Creates, binds and listens into m_hListenSocket; reports why on failure.
    bool OpenListener(const StartRequest& request);
    void ReportListenFailed(ListenStep step, std::error_code error);
    bool BeginAcceptThread();

    unsigned AcceptLoop();
    void AcceptUntilStopped();
    bool AcceptPending();
    bool ReportAcceptError(int error);
    bool IsAdmitted(const net::IpAddress& peer) const;
    int AdmittedShares() const;
    void AdmitClient(net::Socket client, const PeerAddress& peer);
    void RefuseClient(net::Socket client, const PeerAddress& peer);
    // A Server-mode run with a key answers a refused client's handshake and
    // seals the refusal, on a short-lived thread; past the cap it just closes.
    void RefuseSealedClient(net::Socket client);
    void SealedRefusal(net::Socket client, const seal::LinkKey& key);
    void EndAcceptRun();

    unsigned ClientPump(RelayConnection& record);
    unsigned ServerPump(RelayConnection& record);
    bool ConnectTarget(RelayConnection& record);
    bool BeginServerPump(const RelayConnection& record);
    // The sealed link's handshake on its socket; false (its end recorded)
    // when it failed. Plain bytes that came with it go to early.
    bool SealLink(RelayConnection& record, std::vector<std::uint8_t>& early);
    bool PassEarlyBytes(const RelayConnection& record, const std::vector<std::uint8_t>& early);
    void PumpChunks(RelayConnection& record, TrafficDirection direction);
    void AdjustConnectionCount(bool up);
    // By the last pump to let go of a connection, once its sockets are closed.
    void ReportConnectionClosed(const ConnectionEnd& end);

    // Every worker thread is begun through here and calls WorkerFinished as
    // its last act, so WaitForWorkers knows when the engine is unused.
    bool BeginWorker(platform::ThreadEntry entry, void* argument);
    void WorkerFinished();

    RelayDisplay& m_display;
    std::unique_ptr<RelayEvents> m_ownReports;  // when the display words the reports
    RelayEvents& m_events;
    TrafficCounters m_traffic;  // m_nBytesUp/Down, their samples, m_csTraffic, m_bHidden

    // Run settings: written by Start, read by workers without a lock.
    std::atomic<EncodeMode> m_nEncodeMode{EncodeMode::None};  // taken by each admitted client
    std::atomic<std::uint32_t> m_dwTargetAddr{0};             // network order; 0 is unresolved
    std::atomic<int> m_nTargetPort{0};
    std::atomic<int> m_nConnectionLimit{0};  // compared with the pump-thread count
    std::atomic<std::size_t> m_nChunkSize{kClassicChunkSize};
    // The run's link key, set before the accept thread begins; each admitted
    // client keeps the one it came with.
    std::shared_ptr<const seal::LinkKey> m_linkKey;
    std::vector<net::IpRange> m_allowFrom;  // set before the accept thread begins, read only by it

    CCriticalSection m_csCount;              // the count together with its display
    std::atomic<int> m_nConnectionCount{0};  // live pump threads; the limit test reads it unlocked
    // Pump threads admitted but not yet counted: held in the limit test, never shown.
    std::atomic<int> m_nReservedShares{0};

    // The accept thread owns and closes the listener; Stop only raises the flag
    // and wakes it, so no accept ever runs on a closed handle.
    net::Socket m_hListenSocket = net::kInvalidSocket;
    net::WakeSignal m_wake;
    std::atomic<bool> m_bStopRequested{false};
    std::atomic<bool> m_bListening{false};  // an accept thread exists
    std::atomic<int> m_nListeningPort{0};

    std::atomic<std::int64_t> m_nDeniedCount{0};
    std::atomic<std::int64_t> m_nRefusedCount{0};
    std::atomic<std::uint64_t> m_nLastConnectionId{0};
    std::atomic<int> m_nLiveConnections{0};  // accepted, not yet reported closed
    std::atomic<int> m_nLiveWorkers{0};
    std::atomic<int> m_nRefusalWorkers{0};  // sealed refusals under way
};
