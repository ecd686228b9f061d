#include "relay/event/event_connection.h"

#include <asio/connect.hpp>
#include <asio/write.hpp>

#include <algorithm>

#include "platform/net.h"

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

net::IpAddress ToIpAddress(const asio::ip::address& address) {
    if (address.is_v4()) {
        return net::IpAddress::FromV4(address.to_v4().to_uint());
    }
    return net::IpAddress::FromV6(address.to_v6().to_bytes());
}

asio::ip::address ToAsioAddress(const net::IpAddress& address) {
    if (address.IsV4()) {
        return asio::ip::address_v4(address.V4());
    }
    return asio::ip::address_v6(address.V6());
}

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

EventConnection::~EventConnection() = default;

void EventConnection::Start() {
    m_worker.live.insert(shared_from_this());
    // Non-blocking from now on: the watch below peeks without waiting.
    TuneRelaySocket(m_client, net::kAcceptedSocketsKeepTuning);
    ArmQuietTimer();
    if (m_run->target.literal) {
        const asio::ip::address literal = ToAsioAddress(*m_run->target.literal);
        // 0.0.0.0 or :: names no target (a connect to it would reach this
        // machine), nor does a multicast address: the client is closed as for
        // a name that does not resolve.
        if (!IsRelayableTarget(literal)) {
            Close(CloseReason::LookupFailed);
            return;
        }
        WatchClientLeaving();
        ConnectTo(tcp::endpoint(literal, TargetPort()));
    } else {
        WatchClientLeaving();
        LookUpTarget();
    }
}

// While the target has not answered, a client that leaves is noticed at once:
// its look-up or connect is cancelled and its place and descriptors freed
// (what a proxy's abort-on-close does), rather than held for the connect
// time-out by clients that came and went.
void EventConnection::WatchClientLeaving() {
    m_watchingClient = true;
    m_client.async_wait(tcp::socket::wait_read, [self = shared_from_this()](std::error_code ec) {
        self->m_watchingClient = false;
        if (self->m_closed || self->m_connected || ec == asio::error::operation_aborted) {
            return;
        }
        if (ec) {
            self->Close(CloseReason::Reset, ec);
            return;
        }
        self->OnClientReadableWhileConnecting();
    });
}

// A reset, or an end of stream before any byte, means the client left. A
// client that sent bytes is watched no further: they stay in its socket and
// are relayed once the target answers, a half-close after them too.
void EventConnection::OnClientReadableWhileConnecting() {
    char first = 0;
    std::error_code ec;
    m_client.receive(asio::buffer(&first, 1), tcp::socket::message_peek, ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
        WatchClientLeaving();
    } else if (ec == asio::error::eof) {
        Close(CloseReason::ClientClosed);
    } else if (ec) {
        Close(CloseReason::Reset, ec);
    } else {
        m_clientSpoke = true;
    }
}

// The answer holds the connection weakly: one that has closed meanwhile is
// gone or marked closed, and the answer is dropped.
void EventConnection::LookUpTarget() {
    ArmConnectTimer();
    m_lookup = m_host.Lookups().Start(
        m_run->target.host, TargetPort(), m_worker.context,
        [weak = weak_from_this()](std::error_code ec, std::vector<tcp::endpoint> found) {
            if (const auto self = weak.lock()) {
                self->OnLookedUp(ec, std::move(found));
            }
        });
    if (!m_lookup) {
        // Too many look-ups wait already.
        Close(CloseReason::LookupFailed,
              std::make_error_code(std::errc::resource_unavailable_try_again));
    }
}

// Addresses no target may have are skipped like ones that refuse; a name
// left with none has not resolved.
void EventConnection::OnLookedUp(std::error_code ec, std::vector<tcp::endpoint> found) {
    if (m_closed) {
        return;
    }
    m_lookup = {};
    found.erase(std::remove_if(found.begin(), found.end(),
                               [](const tcp::endpoint& address) {
                                   return !IsRelayableTarget(address.address());
                               }),
                found.end());
    if (ec || found.empty()) {
        Close(CloseReason::LookupFailed, ec);
    } else {
        ConnectTo(found);
    }
}

void EventConnection::ConnectTo(const std::vector<tcp::endpoint>& addresses) {
    asio::async_connect(
        m_target, addresses,
        [self = shared_from_this()](std::error_code ec, const tcp::endpoint& answered) {
            self->OnConnectDone(ec, answered);
        });
}

void EventConnection::ConnectTo(const tcp::endpoint& address) {
    ArmConnectTimer();
    std::error_code ec;
    if (!m_target.is_open()) {
        m_target.open(address.protocol(), ec);
    }
    if (!ec) {
        // Now rather than after the connect, which would make it so once more.
        m_target.non_blocking(true, ec);
    }
    if (ec) {
        Close(CloseReason::ConnectFailed, ec);
        return;
    }
    m_target.async_connect(address, [self = shared_from_this(), address](std::error_code ec) {
        self->OnConnectDone(ec, address);
    });
}

void EventConnection::OnConnectDone(std::error_code ec, const tcp::endpoint& answered) {
    if (m_closed) {
        return;
    }
    if (m_connectTimedOut) {
        Close(CloseReason::ConnectTimeout);
    } else if (ec) {
        Close(CloseReason::ConnectFailed, ec);
    } else {
        m_report.target = {ToIpAddress(answered.address()), answered.port()};
        Connected();
    }
}

// The look-up and the connect attempts share one deadline.
void EventConnection::ArmConnectTimer() {
    if (m_run->settings.connectTimeout.count() <= 0) {
        return;
    }
    m_connectTimer.expires_after(m_run->settings.connectTimeout);
    m_connectTimer.async_wait([self = shared_from_this()](std::error_code ec) {
        if (ec || self->m_closed) {
            return;
        }
        // A look-up cannot be woken: it is dropped with the connection.
        if (self->m_lookup) {
            self->Close(CloseReason::ConnectTimeout);
            return;
        }
        // Closing wakes the pending connect, which then ends the connection
        // with this reason.
        self->m_connectTimedOut = true;
        std::error_code ignored;
        self->m_target.close(ignored);
    });
}

void EventConnection::Connected() {
    m_connectTimer.cancel();
    m_connected = true;
    if (m_watchingClient) {
        std::error_code ignored;
        m_client.cancel(ignored);  // the pumps watch the client from now on
    }
    TuneRelaySocket(m_target, false);
    m_host.ConnectionOpened(m_report);
    m_lastActivity = Clock::now();
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
// moved since the accept, and the idle one, once the target answered.
void EventConnection::ArmQuietTimer() {
    auto deadline = Clock::time_point::max();
    if (NothingMoved() && m_run->settings.firstByteTimeout.count() > 0) {
        deadline = m_started + m_run->settings.firstByteTimeout;
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
    if (NothingMoved() && m_run->settings.firstByteTimeout.count() > 0 &&
        now - m_started >= m_run->settings.firstByteTimeout) {
        Close(CloseReason::FirstByteTimeout);
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
        EndOfStream(direction);
        return;
    }
    if (ec) {
        ReturnBuffer(direction);
        Close(CloseReason::Reset, ec);
        return;
    }
    direction.lastChunkFull = received == size;
    MapChunk(m_run->settings.encode, direction.fromClient, direction.buffer.get(),
             static_cast<int>(received));
    direction.bytes += static_cast<std::int64_t>(received);
    m_host.AddTraffic(direction.traffic, static_cast<std::int64_t>(received));
    m_lastActivity = Clock::now();
    asio::async_write(*direction.to, asio::buffer(direction.buffer.get(), received),
                      [self = shared_from_this(), &direction](std::error_code ec, std::size_t) {
                          self->ReturnBuffer(direction);
                          if (self->m_closed) {
                              return;
                          }
                          if (ec) {
                              self->Close(CloseReason::Reset, ec);
                              return;
                          }
                          self->m_lastActivity = Clock::now();
                          // After a full chunk more is usually waiting: read at
                          // once. After a short one the read would mostly find
                          // nothing, so wait to be told.
                          if (direction.lastChunkFull) {
                              self->ReceiveChunk(direction);
                          } else {
                              self->WaitReadable(direction);
                          }
                      });
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
