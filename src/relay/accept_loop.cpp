// The accept thread: admits, refuses or denies each client until Stop.
#include <new>

#include "platform/net.h"
#include "platform/wait_until.h"
#include "relay/relay_connection.h"
#include "relay/relay_engine.h"
#include "relay/send_all.h"
#include "relay/start_checks.h"

unsigned gClientThread(void* argument);

namespace {

// After a reported accept error: the window's message box holds the thread
// until it is dismissed, a log line does not, and an error that repeats at
// once (no descriptors left) must not spin.
constexpr int kAcceptRetryMs = 100;

}  // namespace

unsigned gAcceptThread(void* argument) {
    auto* owner = static_cast<RelayEngine*>(argument);
    const unsigned result = owner->AcceptLoop();
    owner->WorkerFinished();
    return result;
}

unsigned RelayEngine::AcceptLoop() {
    try {
        AcceptUntilStopped();
    } catch (...) {
        // Nothing may unwind out of a thread; the run just ends.
    }
    EndAcceptRun();
    return 0;
}

void RelayEngine::AcceptUntilStopped() {
    while (!m_bStopRequested.load()) {
        const net::WakeSignal::Ready ready = m_wake.WaitWithListener(m_hListenSocket);
        if (m_bStopRequested.load()) {
            break;
        }
        if (ready == net::WakeSignal::Ready::Wake) {
            m_wake.Drain();  // a stale wake-up from an earlier Stop
            continue;
        }
        if (ready == net::WakeSignal::Ready::Listener && !AcceptPending()) {
            break;
        }
        if (ready == net::WakeSignal::Ready::Failed && !ReportAcceptError(net::LastError())) {
            break;
        }
    }
}

// The listener is non-blocking: one wake-up takes every client queued by
// then, which saves a wait per client in a burst. The stop flag is checked
// before each accept, so none follows a Stop. False when the run is over.
bool RelayEngine::AcceptPending() {
    for (bool first = true; !m_bStopRequested.load(); first = false) {
        std::uint32_t peerAddr = 0;
        std::uint16_t peerPort = 0;
        const net::Socket client = net::Accept(m_hListenSocket, &peerAddr, &peerPort);
        if (client == net::kInvalidSocket) {
            const int error = net::LastError();
            if (first) {
                return ReportAcceptError(error);
            }
            // Only the first accept surely had a client queued: a later one
            // fails for want of a descriptor even with nobody waiting. The wait
            // tells whether someone is, and the next accept reports the error.
            return !m_bStopRequested.load() && !net::IsClosedListenerError(error);
        }
        const PeerAddress peer{net::IpAddress::FromV4NetworkOrder(peerAddr), peerPort};
        if (!IsAdmitted(peer.address)) {
            m_nDeniedCount.fetch_add(1);
            net::Close(client);
            m_events.ClientRefused(peer, RefusalReason::NotAllowed);
        } else if (AdmittedShares() < m_nConnectionLimit.load()) {
            AdmitClient(client, peer);
        } else {
            RefuseClient(client, peer);
        }
    }
    return false;
}

// Shows a failed accept unless it only means "try again"; false when it (or
// a Stop meanwhile) means the run is over.
bool RelayEngine::ReportAcceptError(int error) {
    if (m_bStopRequested.load() || net::IsClosedListenerError(error)) {
        return false;
    }
    if (!net::IsTransientAcceptError(error)) {
        m_events.AcceptFailed(std::error_code(error, std::system_category()));
        platform::WaitUntil([this] { return m_bStopRequested.load(); }, kAcceptRetryMs);
    }
    return true;
}

bool RelayEngine::IsAdmitted(const net::IpAddress& peer) const {
    return net::IsAllowed(m_allowFrom, peer);
}

// The count rises only as the pump threads start; the client's two places are
// reserved meanwhile, so a burst of clients cannot pass the limit before any
// of their threads has run.
int RelayEngine::AdmittedShares() const {
    // Reservations first: a pump raises the count before it ends its
    // reservation, so the sum read this way is never short.
    const int reserved = m_nReservedShares.load();
    return reserved + m_nConnectionCount.load();
}

void RelayEngine::AdmitClient(net::Socket client, const PeerAddress& peer) {
    m_nReservedShares.fetch_add(2);
    auto* record = new (std::nothrow) RelayConnection;
    const ConnectionReport connection{m_nLastConnectionId.load() + 1, peer, {}};
    if (record != nullptr) {
        try {
            record->pSockets = std::make_shared<ConnectionSockets>(client, *this, connection);
        } catch (const std::bad_alloc&) {
            delete record;
            record = nullptr;
        }
    }
    if (record == nullptr) {
        m_nReservedShares.fetch_sub(2);
        net::Close(client);
        return;
    }
    // Only the accept thread numbers connections.
    m_nLastConnectionId.store(connection.id);
    m_nLiveConnections.fetch_add(1);
    m_events.ConnectionAccepted(connection);
    record->pOwner = this;
    record->nChunkSize = m_nChunkSize.load();
    record->nEncodeMode = m_nEncodeMode.load(std::memory_order_relaxed);
    if (!BeginWorker(gClientThread, record)) {
        m_nReservedShares.fetch_sub(2);
        record->pSockets->ending.Failed(CloseReason::Reset);
        delete record;  // closes the client socket and reports the end
    }
}

void RelayEngine::RefuseClient(net::Socket client, const PeerAddress& peer) {
    m_nRefusedCount.fetch_add(1);
    m_events.ClientRefused(peer, RefusalReason::LimitReached);
    const std::string refusal = RefusalBytes(m_nEncodeMode.load(std::memory_order_relaxed));
    SendAll(client, refusal.data(), static_cast<int>(refusal.size()));
    net::Shutdown(client, net::ShutdownHow::Both);
    net::Close(client);
}

// However the run ended (Stop, or a listener that failed under it), the front
// end is left idle. The stop flag tells a Start that comes in before the last
// step to wait for it rather than take the run for a live one.
void RelayEngine::EndAcceptRun() {
    m_bStopRequested.store(true);
    net::Close(m_hListenSocket);
    m_hListenSocket = net::kInvalidSocket;
    m_events.RunStateChanged(RunState::Idle);
    m_bListening.store(false);
}
