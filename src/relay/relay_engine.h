// The relay engine: one listening run at a time, two pump threads per
// connection, the connection count and the byte totals. It knows no window;
// it shows everything through a RelayDisplay.
//
// PUBLIC INTERFACE (fixed; the dialog and the headless relay build on it).
// The private part is the engine's own and may change.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/critical_section.h"
#include "platform/socket_handle.h"
#include "platform/thread_start.h"
#include "platform/wake_signal.h"
#include "relay/byte_map.h"
#include "relay/relay_control.h"
#include "relay/relay_display.h"
#include "relay/start_request.h"
#include "stats/traffic_counters.h"

struct RelayConnection;

class RelayEngine final : public RelayControl {
  public:
    explicit RelayEngine(RelayDisplay& display);
    // Only valid once no worker thread is left (see WaitForWorkers).
    ~RelayEngine() override;
    RelayEngine(const RelayEngine&) = delete;
    RelayEngine& operator=(const RelayEngine&) = delete;

    // Start command (UI thread). On a refusal the reason has been shown with
    // ShowMessage and false is returned; true once the accept thread runs.
    bool StartListening(const StartRequest& request) override;
    // Stop command (UI thread): ends the listening run, not its connections.
    void StopListening() override;

    // Speed tick (UI thread, once a second): growth of both totals since the
    // previous tick; the samples move on whether or not the display is hidden.
    SpeedSample TickSpeeds() override;
    // Redraws both totals through the display (UI thread, no lock taken).
    void RefreshTrafficDisplay() override;
    void ResetTrafficCounters();

    // While hidden, totals are counted but not shown; the count is always shown.
    void SetHidden(bool hidden) override;

    int ConnectionCount() const override;
    std::int64_t BytesUp() const override;
    std::int64_t BytesDown() const override;
    // Local port of the current or last run as the system bound it (a run on port 0 gets one).
    int ListeningPort() const override;
    bool IsListening() const override;  // an accept thread exists
    // Clients closed at once because no allowFrom range holds their address.
    std::int64_t DeniedCount() const override;

    // Waits until no accept or pump thread is left, at most timeoutMs. For
    // tests and for a clean exit of the headless relay.
    bool WaitForWorkers(int timeoutMs) override;

  private:
    friend unsigned gAcceptThread(void* argument);
    friend unsigned gClientThread(void* argument);
    friend unsigned gServerThread(void* argument);
    friend class ConnectionCountShare;
    template <unsigned (RelayEngine::*Pump)(RelayConnection&)>
    friend unsigned RunPumpThread(void* argument);

    // Creates, binds and listens into m_hListenSocket; shows why on failure.
    bool OpenListener(const StartRequest& request);
    void BeginAcceptThread();

    unsigned AcceptLoop();
    void AcceptUntilStopped();
    bool AcceptPending();
    bool ReportAcceptError(int error);
    bool IsAdmitted(std::uint32_t peerAddr) const;
    int AdmittedShares() const;
    void AdmitClient(net::Socket client);
    void RefuseClient(net::Socket client);
    void EndAcceptRun();

    unsigned ClientPump(RelayConnection& record);
    unsigned ServerPump(RelayConnection& record);
    bool ConnectTarget(RelayConnection& record);
    bool BeginServerPump(const RelayConnection& record);
    void PumpChunks(RelayConnection& record, TrafficDirection direction);
    void AdjustConnectionCount(bool up);

    // Every worker thread is begun through here and calls WorkerFinished as
    // its last act, so WaitForWorkers knows when the engine is unused.
    bool BeginWorker(platform::ThreadEntry entry, void* argument);
    void WorkerFinished();

    RelayDisplay& m_display;
    TrafficCounters m_traffic;  // m_nBytesUp/Down, their samples, m_csTraffic, m_bHidden

    // Run settings: written by Start, read by workers without a lock.
    std::atomic<EncodeMode> m_nEncodeMode{EncodeMode::None};  // taken by each admitted client
    std::atomic<std::uint32_t> m_dwTargetAddr{0};             // network order; 0 is unresolved
    std::atomic<int> m_nTargetPort{0};
    std::atomic<int> m_nConnectionLimit{0};  // compared with the pump-thread count
    std::atomic<std::size_t> m_nChunkSize{kClassicChunkSize};
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
    std::atomic<int> m_nLiveWorkers{0};
};
