#include "relay/event/event_connection.h"

#include <asio/write.hpp>

#include <algorithm>

#include "platform/net.h"
#include "relay/event/asio_address.h"
#include "relay/event/spare_links.h"
#include "relay/link_close_reason.h"

namespace {

using Clock = std::chrono::steady_clock;

// Keep-alive on both sockets finds peers that vanished (a laptop that slept,
// a NAT that forgot the flow) even with no idle time-out; no delay keeps
// request/response latency down for small chunks. A client may have them
// from its listener already. Reads are made without waiting, so the socket is
// non-blocking (set once: each setting is a system call).
void TuneRelaySocket(asio::ip::tcp::socket& socket, bool tunedByListener) {
    std::error_code ignored;
    if (!tunedByListener) {
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        net::SetKeepAliveTimes(static_cast<net::Socket>(socket.native_handle()));  // turns it on
    }
    if (!socket.non_blocking()) {
        socket.non_blocking(true, ignored);
    }
}

}  // namespace

EventConnection::EventConnection(EventConnectionHost& host, EventWorker& worker,
                                 std::shared_ptr<const EventRun> run, std::uint64_t id,
                                 tcp::socket client, const tcp::endpoint& clientEndpoint,
                                 tcp::socket target)
    : m_host(host),
      m_worker(worker),
      m_run(std::move(run)),
      m_client(std::move(client)),
      m_target(std::move(target)),
      m_connectTimer(worker.context),
      m_quietTimer(worker.context),
      m_up(&m_client, &m_target, TrafficDirection::ClientToServer, true),
      m_down(&m_target, &m_client, TrafficDirection::ServerToClient, false),
      m_report{id, {ToIpAddress(clientEndpoint.address()), clientEndpoint.port()}, {}},
      m_started(Clock::now()),
      m_lastActivity(m_started) {}

EventConnection::EventConnection(EventConnectionHost& host, EventWorker& worker,
                                 std::shared_ptr<const EventRun> run)
    : EventConnection(host, worker, std::move(run), 0, tcp::socket(worker.context), {},
                      tcp::socket(worker.context)) {
    m_spare = true;
    m_shares = 0;
}

EventConnection::~EventConnection() = default;

// Non-blocking from now on: the watch for a client leaving peeks without waiting.
void EventConnection::TuneClient() {
    TuneRelaySocket(m_client, net::kAcceptedSocketsKeepTuning);
}

void EventConnection::Start() {
    m_worker.live.insert(shared_from_this());
    if (m_spare) {
        ReachTarget();
        return;
    }
    TuneClient();
    if (m_run->settings.linkKey && m_run->settings.encode == EncodeMode::Server) {
        StartHandshake(seal::Role::responder);  // reaches the target once the link is open
        return;
    }
    ArmQuietTimer();
    ReachTarget();
}

void EventConnection::ReachTarget() {
    if (m_run->target.literal) {
        const asio::ip::address literal = ToAsioAddress(*m_run->target.literal);
        // 0.0.0.0 or :: names no target (a connect to it would reach this
        // machine), nor does a multicast address: the client is closed as for
        // a name that does not resolve.
        if (!IsRelayableTarget(literal)) {
            Close(CloseReason::LookupFailed);
            return;
        }
    }
    // A client whose bytes are already held has spoken: nothing to watch.
    if (!m_clientSpoke && !m_spare) {
        WatchClientLeaving();
    }
    if (m_run->target.literal) {
        ConnectTo(tcp::endpoint(ToAsioAddress(*m_run->target.literal), TargetPort()));
    } else {
        LookUpTarget();
    }
}

void EventConnection::Connected() {
    m_connectTimer.cancel();
    m_connected = true;
    if (m_watchingClient) {
        std::error_code ignored;
        m_client.cancel(ignored);  // the pumps watch the client from now on
    }
    TuneRelaySocket(m_target, false);
    if (!m_spare) {
        m_host.ConnectionOpened(m_report);  // a spare's client is reported when it comes
    }
    m_lastActivity = Clock::now();
    if (m_sealer) {
        ArmQuietTimer();
        StartSealedPumps();
        return;
    }
    if (m_run->settings.linkKey && m_run->settings.encode == EncodeMode::Client) {
        StartHandshake(seal::Role::initiator);
        return;
    }
    ArmQuietTimer();
    // The target may speak first: both directions start at once. Most clients
    // speak first, and by now their first bytes have mostly arrived: those are
    // read at once, which saves a wait.
    WaitReadable(m_down);
    ReceiveChunk(m_up);
}

// One timer for both quiet time-outs, moved on only when it fires: a chunk
// just notes the time, which costs far less than re-arming a timer for every
// chunk. It runs to the nearer of the first-byte deadline, while nothing has
// moved since the accept, the idle one, once the target answered, and a
// sealed link's handshake deadline.
void EventConnection::ArmQuietTimer() {
    auto deadline = Clock::time_point::max();
    if (NothingMoved() && !m_spare && m_run->settings.firstByteTimeout.count() > 0) {
        deadline = m_started + m_run->settings.firstByteTimeout;
    }
    if (m_parked) {
        deadline = m_parkedAt + kSpareLife;
    }
    if (Handshaking()) {
        deadline = std::min(deadline, m_handshakeStarted + kHandshakeDeadline);
    }
    if (m_connected && m_run->settings.idleTimeout.count() > 0) {
        deadline = std::min(deadline, m_lastActivity + m_run->settings.idleTimeout);
    }
    if (deadline == Clock::time_point::max() ||
        (m_quietTimerArmed && m_quietTimer.expiry() == deadline)) {
        return;
    }
    m_quietTimerArmed = true;
    m_quietTimer.expires_at(deadline);
    m_quietTimer.async_wait([self = shared_from_this()](std::error_code ec) {
        if (!ec && !self->m_closed) {
            self->m_quietTimerArmed = false;
            self->OnQuietTimer();
        }
    });
}

void EventConnection::OnQuietTimer() {
    const Clock::time_point now = Clock::now();
    if (m_parked && now - m_parkedAt >= kSpareLife) {
        Close(CloseReason::ClientClosed);  // unused: ends in order, quietly
        return;
    }
    if (NothingMoved() && !m_spare && m_run->settings.firstByteTimeout.count() > 0 &&
        now - m_started >= m_run->settings.firstByteTimeout) {
        Close(CloseReason::FirstByteTimeout);
        return;
    }
    if (Handshaking() && now - m_handshakeStarted >= kHandshakeDeadline) {
        Close(CloseReason::HandshakeFailed);
        return;
    }
    if (m_connected && m_run->settings.idleTimeout.count() > 0 &&
        now - m_lastActivity >= m_run->settings.idleTimeout) {
        Close(CloseReason::IdleTimeout);
        return;
    }
    ArmQuietTimer();
}

void EventConnection::WaitReadable(Direction& direction) {
    direction.from->async_wait(tcp::socket::wait_read,
                               [self = shared_from_this(), &direction](std::error_code ec) {
                                   if (self->m_closed) {
                                       return;
                                   }
                                   if (ec) {
                                       self->Close(CloseReason::Reset, ec);
                                       return;
                                   }
                                   self->ReceiveChunk(direction);
                               });
}

// Takes a buffer only now that bytes are waiting, and gives it back as soon
// as they are sent.
void EventConnection::ReceiveChunk(Direction& direction) {
    const std::size_t size = m_run->settings.chunkSize;
    direction.buffer = m_worker.buffers.Take(size);
    std::error_code ec;
    const std::size_t received =
        direction.from->read_some(asio::buffer(direction.buffer.get(), size), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
        ReturnBuffer(direction);
        WaitReadable(direction);
        return;
    }
    if (ec == asio::error::eof) {
        ReturnBuffer(direction);
        if (m_sealer) {
            SealedEndOfStream(direction);
        } else {
            EndOfStream(direction);
        }
        return;
    }
    if (ec) {
        ReturnBuffer(direction);
        Close(CloseReason::Reset, ec);
        return;
    }
    if (m_sealer) {
        SealedChunk(direction, received);
        return;
    }
    direction.lastChunkFull = received == size;
    MapChunk(m_run->settings.encode, direction.fromClient, direction.buffer.get(),
             static_cast<int>(received));
    CountPlain(direction, received);
    m_lastActivity = Clock::now();
    asio::async_write(*direction.to, asio::buffer(direction.buffer.get(), received),
                      [self = shared_from_this(), &direction](std::error_code ec, std::size_t) {
                          self->ReturnBuffer(direction);
                          self->ChunkWritten(direction, ec);
                      });
}

void EventConnection::CountPlain(Direction& direction, std::size_t bytes) {
    direction.bytes += static_cast<std::int64_t>(bytes);
    m_host.AddTraffic(direction.traffic, static_cast<std::int64_t>(bytes));
}

void EventConnection::ChunkWritten(Direction& direction, std::error_code ec) {
    if (m_closed) {
        return;
    }
    if (ec) {
        Close(CloseReason::Reset, ec);
        return;
    }
    m_lastActivity = Clock::now();
    // After a full chunk more is usually waiting: read at once. After a short
    // one the read would mostly find nothing, so wait to be told.
    if (direction.lastChunkFull) {
        ReceiveChunk(direction);
    } else {
        WaitReadable(direction);
    }
}

// The end of one side's stream is passed on as a half-close; the other
// direction keeps flowing until it ends too. The second end needs no
// half-close: the close that follows sends the same end of stream.
void EventConnection::EndOfStream(Direction& direction) {
    direction.open = false;
    m_host.ReleaseShares(1);
    --m_shares;
    if (!m_up.open && !m_down.open) {
        Close(direction.fromClient ? CloseReason::ClientClosed : CloseReason::TargetClosed);
        return;
    }
    std::error_code ignored;
    direction.to->shutdown(tcp::socket::shutdown_send, ignored);
}

void EventConnection::ReturnBuffer(Direction& direction) {
    if (direction.buffer) {
        m_worker.buffers.Give(std::move(direction.buffer), m_run->settings.chunkSize);
    }
}

void EventConnection::Close(CloseReason reason, std::error_code error) {
    if (m_closed) {
        return;
    }
    m_closed = true;
    m_connectTimer.cancel();
    m_quietTimer.cancel();
    m_lookup.Cancel();
    std::error_code ignored;
    if (m_spare) {
        // No client, no share, nothing to report; the far relay reads an
        // orderly end before any message, which costs it nothing.
        m_target.close(ignored);
        auto& spares = m_worker.spares;
        spares.erase(std::remove(spares.begin(), spares.end(), shared_from_this()), spares.end());
        m_host.SpareGone();
        m_worker.live.erase(shared_from_this());
        return;
    }
    if (m_sealer && reason != CloseReason::ClientClosed && reason != CloseReason::TargetClosed) {
        // A sealed connection that did not end in order (a cut or forged
        // stream, a time-out, a stop) is reset on both sides: a close would
        // send an orderly end, and the program behind the relay would take
        // the cut stream for a whole one.
        m_client.set_option(asio::socket_base::linger(true, 0), ignored);
        m_target.set_option(asio::socket_base::linger(true, 0), ignored);
    }
    m_client.close(ignored);
    m_target.close(ignored);
    m_host.ReleaseShares(m_shares);
    m_shares = 0;
    ConnectionEnd end;
    end.connection = m_report;
    end.reason = reason;
    end.error = error;
    end.bytesUp = m_up.bytes;
    end.bytesDown = m_down.bytes;
    end.duration = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_started);
    m_host.ConnectionClosed(end);
    // Last: this may drop the final reference but one, held by the caller.
    m_worker.live.erase(shared_from_this());
}
