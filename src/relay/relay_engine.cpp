// Start and Stop of a listening run, and the engine's state as seen from the
// front end.
#include "relay/relay_engine.h"

#include <algorithm>
#include <cstdio>

#include "platform/net.h"
#include "platform/wait_until.h"
#include "relay/run_texts.h"
#include "relay/start_checks.h"
#include "relay/target_resolution.h"

unsigned gAcceptThread(void* argument);

RelayEngine::RelayEngine(RelayDisplay& display) : m_display(display), m_traffic(display) {}

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
        m_display.ShowMessage(StartRefusalMessage(*refusal));
        return false;
    }
    m_dwTargetAddr.store(ResolveTarget(TrimmedTarget(request.targetText)),
                         std::memory_order_relaxed);

    if (!OpenListener(request)) {
        return false;
    }
    m_nChunkSize.store(EffectiveChunkSize(request.chunkSize));
    m_allowFrom = request.allowFrom;
    // Port 0 lets the system choose; the status names the port clients can use.
    m_nListeningPort.store(net::LocalPort(m_hListenSocket));

    m_traffic.ResetTrafficCounters();
    m_display.SetStatusText(ListeningStatusText(m_nListeningPort.load()));
    m_display.EnableCommand(RelayCommand::Start, false);
    m_display.EnableCommand(RelayCommand::Stop, true);
    BeginAcceptThread();
    return m_bListening.load();
}

bool RelayEngine::OpenListener(const StartRequest& request) {
    if (!m_wake.Open()) {
        m_display.ShowMessage(kCreateSocketFailedText);
        return false;
    }
    const net::Socket listener = net::CreateTcpSocket();
    if (listener == net::kInvalidSocket) {
        m_display.ShowMessage(kCreateSocketFailedText);
        return false;
    }
    net::AllowPortReuse(listener);
    // A failed bind counts as a failed listen: listening on an unbound socket
    // would succeed on a port of the system's choosing.
    const auto port = static_cast<std::uint16_t>(request.localPort);
    // This engine listens on IPv4 alone.
    if (!request.bindAddress.IsV4() ||
        !net::Bind(listener, request.bindAddress.V4NetworkOrder(), port) ||
        !net::Listen(listener, request.backlog) || !net::SetBlocking(listener, false)) {
        net::Close(listener);
        m_display.ShowMessage(kListenFailedText);
        return false;
    }
    m_hListenSocket = listener;
    return true;
}

void RelayEngine::BeginAcceptThread() {
    m_wake.Drain();
    m_bStopRequested.store(false);
    m_bListening.store(true);
    if (BeginWorker(gAcceptThread, this)) {
        return;
    }
    net::Close(m_hListenSocket);
    m_hListenSocket = net::kInvalidSocket;
    m_bListening.store(false);
    m_display.EnableCommand(RelayCommand::Stop, false);
    m_display.EnableCommand(RelayCommand::Start, true);
    m_display.ShowMessage("Create thread failed!");
}

void RelayEngine::StopListening() {
    m_display.EnableCommand(RelayCommand::Stop, false);
    if (m_bListening.load()) {
        m_bStopRequested.store(true);
        m_wake.Signal();
    }
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
