// The event engine's accept path: an accept on each listener, the checks a
// client passes (allow-list, its address's cap, the limit), and its hand-over
// to a worker or its refusal.
#include <asio/post.hpp>
#include <asio/write.hpp>

#include <string>
#include <utility>

#include "platform/net.h"
#include "relay/event/asio_address.h"
#include "relay/event/event_connection.h"
#include "relay/event/event_engine.h"
#include "relay/event/sealed_refusal.h"

namespace {

using tcp = asio::ip::tcp;

// An accept that fails (out of descriptors, say) is tried again after this,
// so a lasting failure cannot spin.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);

}  // namespace

// A listener that shares the port keeps its clients on its own worker.
EventWorker& EventRelayEngine::NextWorker(EventListener& listener) {
    if (m_listeners.SharePort()) {
        return listener.worker;
    }
    EventWorker& worker = *m_workers[listener.nextWorker];
    listener.nextWorker = (listener.nextWorker + 1) % m_workers.size();
    return worker;
}

// The target's socket is opened before a client is accepted: out of
// descriptors, the client then waits in the listen queue until one is free,
// instead of being accepted and closed for want of a target connection.
void EventRelayEngine::Accept(EventListener& listener) {
    EventWorker& worker = NextWorker(listener);
    const EventRun& settings = *listener.run;
    const bool v6Target = settings.target.literal && !settings.target.literal->IsV4();
    // The accept fills in the client's address, which saves asking for it.
    struct Pending {
        explicit Pending(asio::io_context& context) : target(context) {}
        tcp::socket target;
        tcp::endpoint client;
    };
    auto pending = std::make_shared<Pending>(worker.context);
    std::error_code error;
    pending->target.open(v6Target ? tcp::v6() : tcp::v4(), error);
    if (error) {
        RetryAcceptAfterError(listener, error);
        return;
    }
    const unsigned run = listener.runNumber;
    const EventRun* openedFor = &settings;
    listener.acceptor.async_accept(worker.context, pending->client,
                                   [this, &worker, &listener, pending, run, openedFor](
                                       std::error_code error, tcp::socket client) {
                                       // An accept of a run that has ended comes back aborted; by
                                       // then a new run may own the acceptor, which it must not
                                       // touch.
                                       if (run != m_runNumber.load()) {
                                           return;
                                       }
                                       OnAccepted(error, std::move(client), pending->client,
                                                  std::move(pending->target), openedFor, worker,
                                                  listener);
                                   });
}

void EventRelayEngine::OnAccepted(std::error_code error, tcp::socket client,
                                  const tcp::endpoint& peer, tcp::socket target,
                                  const EventRun* targetOpenedFor, EventWorker& worker,
                                  EventListener& listener) {
    // A listener that failed under the run (shut down from outside, say)
    // ends it as Stop does.
    if (error == asio::error::operation_aborted || !listener.acceptor.is_open() ||
        (error && net::IsClosedListenerError(error.value()))) {
        EndRun(listener.runNumber);
        return;
    }
    if (error) {
        RetryAcceptAfterError(listener, error);
        return;
    }
    std::error_code ec;
    const PeerAddress from{ToIpAddress(peer.address()), peer.port()};
    if (!net::IsAllowed(listener.allowFrom, from.address)) {
        m_denied.fetch_add(1);
        client.close(ec);
        m_events.ClientRefused(from, RefusalReason::NotAllowed);
    } else if (!m_clientsByAddress.TryAdd(from.address, listener.run->settings.clientsPerAddress)) {
        Refuse(std::move(client), from, listener.run->settings, RefusalReason::AddressLimit);
    } else if (!Admit()) {
        m_clientsByAddress.Remove(from.address);
        Refuse(std::move(client), from, listener.run->settings, RefusalReason::LimitReached);
    } else {
        m_live.fetch_add(1);
        const std::uint64_t id = m_lastId.fetch_add(1) + 1;
        m_events.ConnectionAccepted(ConnectionReport{id, from, {}});
        // Opened for a run a reload has replaced, the target socket may be of
        // the wrong family: the connection opens its own.
        if (targetOpenedFor != listener.run.get()) {
            target.close(ec);
        }
        EventConnectionHost& host = *this;
        if (&worker == &listener.worker) {
            if (const auto spare = TakeSpare(worker, *listener.run)) {
                target.close(ec);
                spare->AdoptClient(std::move(client), peer, id);
            } else {
                std::make_shared<EventConnection>(host, worker, listener.run, id, std::move(client),
                                                  peer, std::move(target))
                    ->Start();
            }
            OpenSpares(worker, listener.run);
        } else {
            auto sockets = std::make_shared<std::pair<tcp::socket, tcp::socket>>(std::move(client),
                                                                                 std::move(target));
            asio::post(worker.context, [&host, &worker, run = listener.run, id, sockets, peer] {
                std::make_shared<EventConnection>(host, worker, run, id, std::move(sockets->first),
                                                  peer, std::move(sockets->second))
                    ->Start();
            });
        }
    }
    Accept(listener);
}

void EventRelayEngine::RetryAcceptAfterError(EventListener& listener, std::error_code error) {
    m_events.AcceptFailed(error);
    listener.acceptRetry.expires_after(kAcceptRetry);
    const unsigned run = listener.runNumber;
    listener.acceptRetry.async_wait([this, &listener, run](std::error_code ec) {
        if (run != m_runNumber.load()) {
            return;
        }
        if (ec || !listener.acceptor.is_open()) {
            EndRun(run);
            return;
        }
        Accept(listener);
    });
}

// Both shares are taken here, so a burst of clients is counted whole before
// any of them reaches its target; with the check, under one lock, so that
// acceptors on several threads cannot pass the limit together.
bool EventRelayEngine::Admit() {
    CScopedLock lock(m_csCount);
    if (m_shares.load() >= m_limit.load()) {
        return false;
    }
    const int count = m_shares.fetch_add(2) + 2;
    m_display.ShowConnectionCount(count);
    return true;
}

// The refusal text, mapped in Server mode where the client is the far relay
// (sealed, with a link key), then the end of the stream.
void EventRelayEngine::Refuse(tcp::socket client, const PeerAddress& peer,
                              const StartRequest& settings, RefusalReason reason) {
    m_refused.fetch_add(1);
    m_events.ClientRefused(peer, reason);
    if (settings.encode == EncodeMode::Server && settings.linkKey) {
        RefuseSealed(std::move(client), *settings.linkKey, RefusalBytes(EncodeMode::None),
                     m_sealedRefusals);
        return;
    }
    const EncodeMode mode = settings.encode;
    struct Refusal {
        tcp::socket socket;
        std::string text;
    };
    auto refusal = std::make_shared<Refusal>(Refusal{std::move(client), RefusalBytes(mode)});
    asio::async_write(refusal->socket, asio::buffer(refusal->text),
                      [refusal](std::error_code, std::size_t) {
                          std::error_code ignored;
                          refusal->socket.shutdown(tcp::socket::shutdown_both, ignored);
                          refusal->socket.close(ignored);
                      });
}
