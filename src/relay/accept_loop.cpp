// The accept thread: admits, refuses or denies each client until Stop.
#include <chrono>
#include <new>

#include "platform/net.h"
#include "platform/wait_until.h"
#include "relay/link_close_reason.h"
#include "relay/link_handshake.h"
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

// Sealed refusals under way at once. Each holds a thread for at most the
// handshake's deadline; a flood past this many is closed without a word,
// which a refusal would only have said more politely.
constexpr int kMaxSealedRefusals = 8;

// Which socket of a new connection the run's key seals, if any.
SealedSide SealedSideOf(EncodeMode mode, bool hasKey) {
    if (!hasKey) {
        return SealedSide::None;
    }
    switch (mode) {
        case EncodeMode::Client:
            return SealedSide::Target;
        case EncodeMode::Server:
            return SealedSide::Client;
        case EncodeMode::None:
            break;
    }
    return SealedSide::None;
}

struct SealedRefusalRecord {
    RelayEngine* pOwner;
    net::Socket hClient;
    std::shared_ptr<const seal::LinkKey> pLinkKey;
};

bool CanSealRefusal(const seal::LinkSealer& link) {
    return link.CanSeal();
}

}  // namespace

unsigned gSealedRefusalThread(void* argument) {
    auto* record = static_cast<SealedRefusalRecord*>(argument);
    RelayEngine* owner = record->pOwner;
    try {
        owner->SealedRefusal(record->hClient, *record->pLinkKey);
    } catch (...) {
        // A refusal thread ends quietly.
    }
    net::Close(record->hClient);
    delete record;
    owner->m_nRefusalWorkers.fetch_sub(1);
    owner->WorkerFinished();
    return 0;
}

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
    record->nSealedSide = SealedSideOf(record->nEncodeMode, m_linkKey != nullptr);
    if (record->nSealedSide != SealedSide::None) {
        record->pLinkKey = m_linkKey;
    }
    if (!BeginWorker(gClientThread, record)) {
        m_nReservedShares.fetch_sub(2);
        record->pSockets->ending.Failed(CloseReason::Reset);
        delete record;  // closes the client socket and reports the end
    }
}

void RelayEngine::RefuseClient(net::Socket client, const PeerAddress& peer) {
    m_nRefusedCount.fetch_add(1);
    m_events.ClientRefused(peer, RefusalReason::LimitReached);
    const EncodeMode mode = m_nEncodeMode.load(std::memory_order_relaxed);
    if (SealedSideOf(mode, m_linkKey != nullptr) == SealedSide::Client) {
        RefuseSealedClient(client);
        return;
    }
    const std::string refusal = RefusalBytes(mode);
    SendAll(client, refusal.data(), static_cast<int>(refusal.size()));
    net::Shutdown(client, net::ShutdownHow::Both);
    net::Close(client);
}

// The accept thread never waits for a refused client's handshake.
void RelayEngine::RefuseSealedClient(net::Socket client) {
    if (m_nRefusalWorkers.fetch_add(1) >= kMaxSealedRefusals) {
        m_nRefusalWorkers.fetch_sub(1);
        net::Close(client);
        return;
    }
    auto* record = new (std::nothrow) SealedRefusalRecord{this, client, m_linkKey};
    if (record == nullptr || !BeginWorker(gSealedRefusalThread, record)) {
        delete record;
        m_nRefusalWorkers.fetch_sub(1);
        net::Close(client);
    }
}

// Only the initiator that made the handshake can read the refusal, so it
// goes out with the reply; the client's confirmation is then read, so the
// close does not reset the connection under the refusal.
void RelayEngine::SealedRefusal(net::Socket client, const seal::LinkKey& key) {
    const auto deadline = std::chrono::steady_clock::now() + kHandshakeDeadline;
    seal::LinkSealer link(seal::Role::responder, key);
    std::vector<std::uint8_t> ignored;
    if (DriveHandshake(client, link, CanSealRefusal, deadline, ignored)) {
        return;
    }
    const std::string refusal = RefusalBytes(EncodeMode::None);
    // The text, then the end marker, so the far relay passes both on as an
    // orderly end.
    if (link.Seal({reinterpret_cast<const std::uint8_t*>(refusal.data()), refusal.size()}) ||
        link.SealEnd() || !SendLinkOutput(client, link)) {
        return;
    }
    net::Shutdown(client, net::ShutdownHow::Send);
    DrainUntil(client, deadline);
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
