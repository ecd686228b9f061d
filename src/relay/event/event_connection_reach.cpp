// How an event connection reaches its target: the name looked up, each
// address tried in turn under the connect time-out, and the client watched
// meanwhile in case it leaves.
#include <asio/connect.hpp>

#include <algorithm>

#include "relay/event/asio_address.h"
#include "relay/event/event_connection.h"
#include "relay/link_close_reason.h"

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
        // A sealed client may end inside a message its opening chunk began.
        const auto sealError = m_sealer ? m_sealer->PeerClosed() : std::nullopt;
        Close(sealError ? CloseReasonFor(*sealError) : CloseReason::ClientClosed);
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
