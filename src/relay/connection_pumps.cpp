// The two pump threads of a connection and the connection count.
#include <memory>
#include <new>

#include "platform/net.h"
#include "relay/chunk_pass.h"
#include "relay/link_close_reason.h"
#include "relay/link_handshake.h"
#include "relay/relay_connection.h"
#include "relay/relay_engine.h"
#include "relay/send_all.h"

unsigned gServerThread(void* argument);

namespace {

// The window's chunk fits on the stack; a larger one takes a heap buffer.
constexpr std::size_t kStackChunk = kClassicChunkSize;

std::error_code LastSocketError() {
    return {net::LastError(), std::system_category()};
}

}  // namespace

ConnectionSockets::~ConnectionSockets() {
    if (hServerSocket != net::kInvalidSocket) {
        net::Close(hServerSocket);
    }
    net::Close(hClientSocket);
    try {
        m_owner.ReportConnectionClosed(ending.End());
    } catch (...) {
        // The sockets are closed; only the report failed.
    }
}

// One pump thread's share of the connection count, given back however the
// pump ends. It takes the place the accept thread reserved for it.
class ConnectionCountShare {
  public:
    explicit ConnectionCountShare(RelayEngine& engine) : m_engine(engine) {
        m_engine.AdjustConnectionCount(true);
        m_engine.m_nReservedShares.fetch_sub(1);
    }
    ~ConnectionCountShare() {
        try {
            m_engine.AdjustConnectionCount(false);
        } catch (...) {
            // The count is already lowered; only its display failed.
        }
    }
    ConnectionCountShare(const ConnectionCountShare&) = delete;
    ConnectionCountShare& operator=(const ConnectionCountShare&) = delete;

  private:
    RelayEngine& m_engine;
};

// Runs one pump on its record, frees the record (the last pump to let go
// closes the sockets) and then, as its very last act, tells the engine.
template <unsigned (RelayEngine::*Pump)(RelayConnection&)>
unsigned RunPumpThread(void* argument) {
    auto* record = static_cast<RelayConnection*>(argument);
    RelayEngine* owner = record->pOwner;
    unsigned result = 0;
    try {
        result = (owner->*Pump)(*record);
    } catch (...) {
        // A pump thread ends quietly; it must not take the process down.
    }
    delete record;
    owner->WorkerFinished();
    return result;
}

unsigned gClientThread(void* argument) {
    return RunPumpThread<&RelayEngine::ClientPump>(argument);
}

unsigned gServerThread(void* argument) {
    return RunPumpThread<&RelayEngine::ServerPump>(argument);
}

unsigned RelayEngine::ClientPump(RelayConnection& record) {
    ConnectionCountShare share(*this);
    // Plain bytes that came with the handshake, held until they can go on.
    std::vector<std::uint8_t> early;
    // A sealed client proves its key before the target hears of it.
    const bool ready = (record.nSealedSide != SealedSide::Client || SealLink(record, early)) &&
                       ConnectTarget(record) &&
                       (record.nSealedSide != SealedSide::Target || SealLink(record, early)) &&
                       PassEarlyBytes(record, early);
    if (!ready) {
        m_nReservedShares.fetch_sub(1);  // the server pump's place
        record.pSockets->ShutdownBoth();
    } else if (!BeginServerPump(record)) {
        m_nReservedShares.fetch_sub(1);
        record.pSockets->ending.Failed(CloseReason::Reset);
        // Never leave one direction running alone.
        record.pSockets->ShutdownBoth();
    } else {
        PumpChunks(record, TrafficDirection::ClientToServer);
    }
    record.pSockets.reset();  // the last pump to let go closes both sockets
    return 0;
}

namespace {

bool LinkIsOpen(const seal::LinkSealer& link) {
    return link.Open();
}

}  // namespace

bool RelayEngine::SealLink(RelayConnection& record, std::vector<std::uint8_t>& early) {
    ConnectionSockets& sockets = *record.pSockets;
    const bool initiator = record.nSealedSide == SealedSide::Target;
    const net::Socket socket = initiator ? sockets.hServerSocket : sockets.hClientSocket;
    seal::LinkSealer link(initiator ? seal::Role::initiator : seal::Role::responder,
                          *record.pLinkKey);
    const auto deadline = std::chrono::steady_clock::now() + kHandshakeDeadline;
    auto failure = DriveHandshake(socket, link, LinkIsOpen, deadline, early);
    // The initiator's confirmation, so a silent client still opens the far end.
    if (!failure && !SendLinkOutput(socket, link)) {
        failure = LinkFailure{CloseReason::Reset, LastSocketError()};
    }
    if (failure) {
        sockets.ending.Failed(failure->reason, failure->error);
        return false;
    }
    sockets.link.emplace(seal::SplitOpenLink(std::move(link)));
    return true;
}

// What came with the handshake: from a sealed client, for the target; from
// a sealed target, for the client. Counted like any chunk.
bool RelayEngine::PassEarlyBytes(const RelayConnection& record,
                                 const std::vector<std::uint8_t>& early) {
    if (early.empty()) {
        return true;
    }
    ConnectionSockets& sockets = *record.pSockets;
    const bool toTarget = record.nSealedSide == SealedSide::Client;
    const auto direction =
        toTarget ? TrafficDirection::ClientToServer : TrafficDirection::ServerToClient;
    const int size = static_cast<int>(early.size());
    const int sent = SendAll(toTarget ? sockets.hServerSocket : sockets.hClientSocket,
                             reinterpret_cast<const char*>(early.data()), size);
    m_traffic.AddTrafficBytes(direction, size);
    sockets.ending.AddBytes(direction, size);
    if (sent < size) {
        sockets.ending.Failed(CloseReason::Reset, LastSocketError());
        return false;
    }
    return true;
}

unsigned RelayEngine::ServerPump(RelayConnection& record) {
    ConnectionCountShare share(*this);
    PumpChunks(record, TrafficDirection::ServerToClient);
    record.pSockets.reset();
    return 0;
}

bool RelayEngine::ConnectTarget(RelayConnection& record) {
    ConnectionEnding& ending = record.pSockets->ending;
    // Read once: a later Start's target applies only to later clients.
    const std::uint32_t addr = m_dwTargetAddr.load(std::memory_order_relaxed);
    const auto port = static_cast<std::uint16_t>(m_nTargetPort.load(std::memory_order_relaxed));
    if (addr == 0) {
        ending.Failed(CloseReason::LookupFailed);
        return false;
    }
    const net::Socket server = net::CreateTcpSocket();
    if (server == net::kInvalidSocket) {
        ending.Failed(CloseReason::ConnectFailed, LastSocketError());
        return false;
    }
    if (!net::Connect(server, addr, port)) {
        ending.Failed(CloseReason::ConnectFailed, LastSocketError());
        net::Close(server);
        return false;
    }
    // Whole chunks go out as they arrive; waiting to coalesce them (Nagle)
    // only adds latency to request/response traffic.
    net::SetNoDelay(server);
    net::SetNoDelay(record.pSockets->hClientSocket);
    record.pSockets->hServerSocket = server;
    ending.connection.target = {net::IpAddress::FromV4NetworkOrder(addr), port};
    m_events.ConnectionOpened(ending.connection);
    return true;
}

bool RelayEngine::BeginServerPump(const RelayConnection& record) {
    auto* copy = new (std::nothrow) RelayConnection(record);
    if (copy == nullptr) {
        return false;
    }
    if (!BeginWorker(gServerThread, copy)) {
        delete copy;
        return false;
    }
    return true;
}

namespace {

// The pump toward the sealed side seals; the one from it opens.
ChunkPass ChunkPassOf(RelayConnection& record, bool fromClient) {
    if (record.nSealedSide == SealedSide::None) {
        return {record.nEncodeMode, fromClient};
    }
    seal::LinkHalves& link = *record.pSockets->link;
    const bool towardLink = (record.nSealedSide == SealedSide::Target) == fromClient;
    return towardLink ? ChunkPass(link.sealing) : ChunkPass(link.opening);
}

}  // namespace

void RelayEngine::PumpChunks(RelayConnection& record, TrafficDirection direction) {
    const bool fromClient = direction == TrafficDirection::ClientToServer;
    ConnectionSockets& sockets = *record.pSockets;
    const net::Socket source = fromClient ? sockets.hClientSocket : sockets.hServerSocket;
    const net::Socket destination = fromClient ? sockets.hServerSocket : sockets.hClientSocket;

    // One buffer for the pump's life: on the stack for the usual size, on the
    // heap for the large chunks the headless relay may ask for.
    char stackBuffer[kStackChunk];
    std::unique_ptr<char[]> heapBuffer;
    char* buffer = stackBuffer;
    std::size_t chunkSize = record.nChunkSize;
    ChunkPass pass = ChunkPassOf(record, fromClient);
    if (chunkSize > kStackChunk) {
        heapBuffer.reset(new (std::nothrow) char[chunkSize]);
        buffer = heapBuffer ? heapBuffer.get() : stackBuffer;
        chunkSize = heapBuffer ? chunkSize : kStackChunk;
    }

    // Counted here and handed over once, as the pump ends: the connection's
    // report needs only the total, so no chunk pays for a shared counter.
    struct MovedBytes {
        ConnectionEnding& ending;
        TrafficDirection direction;
        std::int64_t count = 0;
        ~MovedBytes() { ending.AddBytes(direction, count); }
    } moved{sockets.ending, direction};

    for (;;) {
        const int received = net::Recv(source, buffer, static_cast<int>(chunkSize));
        std::optional<seal::LinkError> linkError;
        ChunkPass::Passed passed;
        if (received == 0) {
            linkError = pass.SourceEnded(passed);
            // Toward a sealed link the end marker goes first: a bare end of
            // stream there could be anyone's.
            if (!linkError && SendAll(destination, passed.data, passed.length) < passed.length) {
                sockets.ending.Failed(CloseReason::Reset, LastSocketError());
                sockets.ShutdownBoth();
                return;
            }
            if (!linkError) {
                // Pass the orderly end on and let the other direction finish.
                sockets.ending.EndedInOrder(direction);
                net::Shutdown(destination, net::ShutdownHow::Send);
                return;
            }
        } else if (received < 0) {
            sockets.ending.Failed(CloseReason::Reset, LastSocketError());
            sockets.ShutdownBoth();
            return;
        } else {
            linkError = pass.Pass(buffer, received, passed);
        }
        if (linkError) {
            // Not one byte of a message that fails goes on.
            sockets.ending.Failed(CloseReasonFor(*linkError));
            sockets.ShutdownBoth();
            return;
        }
        const int sent = SendAll(destination, passed.data, passed.length);
        m_traffic.AddTrafficBytes(direction, passed.plainLength);
        moved.count += passed.plainLength;
        if (sent < passed.length) {
            // The destination is gone: nothing more can be delivered either way.
            sockets.ending.Failed(CloseReason::Reset, LastSocketError());
            sockets.ShutdownBoth();
            return;
        }
    }
}

void RelayEngine::ReportConnectionClosed(const ConnectionEnd& end) {
    m_events.ConnectionClosed(end);
    m_nLiveConnections.fetch_sub(1);
}

void RelayEngine::AdjustConnectionCount(bool up) {
    CScopedLock lock(m_csCount);
    const int step = up ? 1 : -1;
    m_display.ShowConnectionCount(m_nConnectionCount.fetch_add(step) + step);
}
