// Start and Stop of a listening run, and the engine's state as seen from the
// front end.
#include "relay/relay_engine.h"

#include "platform/net.h"
#include "platform/wait_until.h"
#include "relay/display_reports.h"
#include "relay/start_checks.h"
#include "relay/target_resolution.h"

unsigned gAcceptThread(void* argument);

namespace {

// A stopped run ends as soon as the accept thread wakes.
constexpr int kRunEndWaitMs = 5000;

}  // namespace

RelayEngine::RelayEngine(RelayDisplay& display)
    : m_display(display),
      m_ownReports(std::make_unique<DisplayReports>(display)),
      m_events(*m_ownReports),
      m_traffic(display) {}

RelayEngine::RelayEngine(RelayDisplay& display, RelayEvents& events)
    : m_display(display), m_events(events), m_traffic(display) {}

RelayEngine::~RelayEngine() = default;

bool RelayEngine::StartListening(const StartRequest& request) {
    // The previous run may still be between re-enabling Start and its end;
    // those steps do not wait for the caller, so a short wait is safe.
    if (m_bListening.load() &&
        (!m_bStopRequested.load() ||
         !platform::WaitUntil([this] { return !m_bListening.load(); }, 1000))) {
        return false;
    }

    m_nEncodeMode.store(request.encode, std::memory_order_relaxed);
    m_nTargetPort.store(request.targetPort, std::memory_order_relaxed);
    m_nConnectionLimit.store(request.connectionLimit, std::memory_order_relaxed);
    // The ports are checked before the look-up, which may block, for a start
    // refused anyway.
    if (const auto refusal = CheckStartRequest(request)) {
        StartFailure failure;
        failure.refusal = refusal;
        m_events.StartFailed(failure);
        return false;
    }
    const std::string target = TrimmedTarget(request.targetText);
    m_dwTargetAddr.store(ResolveTarget(target), std::memory_order_relaxed);

    if (!OpenListener(request)) {
        return false;
    }
    m_nChunkSize.store(EffectiveChunkSize(request.chunkSize));
    m_allowFrom = request.allowFrom;
    m_linkKey = request.linkKey ? std::make_shared<const seal::LinkKey>(*request.linkKey) : nullptr;
    // Port 0 lets the system choose; the status names the port clients can use.
    m_nListeningPort.store(net::LocalPort(m_hListenSocket));

    m_traffic.ResetTrafficCounters();
    const auto boundPort = static_cast<std::uint16_t>(m_nListeningPort.load());
    m_events.Listening(ListenStarted{{request.bindAddress, boundPort},
                                     target,
                                     request.targetPort,
                                     m_nEncodeMode.load(std::memory_order_relaxed),
                                     request.connectionLimit,
                                     request.linkKey && request.encode != EncodeMode::None});
    m_events.RunStateChanged(RunState::Listening);
    return BeginAcceptThread();
}

bool RelayEngine::OpenListener(const StartRequest& request) {
    if (!m_wake.Open()) {
        ReportListenFailed(ListenStep::Socket, {net::LastError(), std::system_category()});
        return false;
    }
    const net::Socket listener = net::CreateTcpSocket();
    if (listener == net::kInvalidSocket) {
        ReportListenFailed(ListenStep::Socket, {net::LastError(), std::system_category()});
        return false;
    }
    net::AllowPortReuse(listener);
    // A failed bind counts as a failed listen: listening on an unbound socket
    // would succeed on a port of the system's choosing.
    const auto port = static_cast<std::uint16_t>(request.localPort);
    // This engine listens on IPv4 alone.
    const bool v4 = request.bindAddress.IsV4();
    ListenStep step = ListenStep::Bind;
    if (v4 && net::Bind(listener, request.bindAddress.V4NetworkOrder(), port)) {
        step = ListenStep::Listen;
        if (net::Listen(listener, request.backlog) && net::SetBlocking(listener, false)) {
            m_hListenSocket = listener;
            return true;
        }
    }
    const std::error_code error =
        v4 ? std::error_code(net::LastError(), std::system_category())
           : std::make_error_code(std::errc::address_family_not_supported);
    net::Close(listener);
    ReportListenFailed(step, error);
    return false;
}

void RelayEngine::ReportListenFailed(ListenStep step, std::error_code error) {
    StartFailure failure;
    failure.step = step;
    failure.error = error;
    m_events.StartFailed(failure);
}

bool RelayEngine::BeginAcceptThread() {
    m_wake.Drain();
    m_bStopRequested.store(false);
    m_bListening.store(true);
    if (BeginWorker(gAcceptThread, this)) {
        return true;
    }
    net::Close(m_hListenSocket);
    m_hListenSocket = net::kInvalidSocket;
    m_bListening.store(false);
    ReportListenFailed(ListenStep::Thread, {});
    return false;
}

void RelayEngine::StopListening() {
    if (m_bListening.load()) {
        m_events.RunStateChanged(RunState::Stopping);
        m_bStopRequested.store(true);
        m_wake.Signal();
    }
}

bool RelayEngine::Reconfigure(const StartRequest& request) {
    StopListening();
    platform::WaitUntil([this] { return !m_bListening.load(); }, kRunEndWaitMs);
    return StartListening(request);
}

bool RelayEngine::Drain(std::chrono::milliseconds grace,
                        const std::function<void()>& stoppedAccepting) {
    StopListening();
    // The end of the run is reported before the drain's outcome, even with no grace.
    platform::WaitUntil([this] { return !m_bListening.load(); }, kRunEndWaitMs);
    stoppedAccepting();
    return WaitForWorkers(static_cast<int>(grace.count()));
}

SpeedSample RelayEngine::TickSpeeds() {
    return m_traffic.Tick();
}

void RelayEngine::RefreshTrafficDisplay() {
    m_traffic.RefreshTrafficDisplay();
}

void RelayEngine::ResetTrafficCounters() {
    m_traffic.ResetTrafficCounters();
}

void RelayEngine::SetHidden(bool hidden) {
    m_traffic.SetHidden(hidden);
}

int RelayEngine::ConnectionCount() const {
    return m_nConnectionCount.load();
}

int RelayEngine::LiveConnections() const {
    return m_nLiveConnections.load();
}

std::int64_t RelayEngine::BytesUp() const {
    return m_traffic.BytesUp();
}

std::int64_t RelayEngine::BytesDown() const {
    return m_traffic.BytesDown();
}

int RelayEngine::ListeningPort() const {
    return m_nListeningPort.load();
}

bool RelayEngine::IsListening() const {
    return m_bListening.load();
}

std::int64_t RelayEngine::DeniedCount() const {
    return m_nDeniedCount.load();
}

std::int64_t RelayEngine::RefusedCount() const {
    return m_nRefusedCount.load();
}

bool RelayEngine::BeginWorker(platform::ThreadEntry entry, void* argument) {
    m_nLiveWorkers.fetch_add(1);
    if (platform::StartDetachedThread(entry, argument)) {
        return true;
    }
    m_nLiveWorkers.fetch_sub(1);
    return false;
}

void RelayEngine::WorkerFinished() {
    m_nLiveWorkers.fetch_sub(1);
}

bool RelayEngine::WaitForWorkers(int timeoutMs) {
    return platform::WaitUntil([this] { return m_nLiveWorkers.load() == 0; }, timeoutMs);
}
