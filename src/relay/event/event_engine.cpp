#include "relay/event/event_engine.h"

#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/net.h"
#include "relay/display_reports.h"
#include "relay/start_checks.h"

namespace {

using tcp = asio::ip::tcp;

// An accept that fails (out of descriptors, say) is tried again after this,
// so a lasting failure cannot spin.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);

int WorkerThreads(int asked) {
    if (asked > 0) {
        return asked;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

}  // namespace

EventRelayEngine::EventRelayEngine(RelayDisplay& display, int workers)
    : EventRelayEngine(display, nullptr, std::make_unique<DisplayReports>(display), workers) {}

EventRelayEngine::EventRelayEngine(RelayDisplay& display, RelayEvents& events, int workers)
    : EventRelayEngine(display, &events, nullptr, workers) {}

EventRelayEngine::EventRelayEngine(RelayDisplay& display, RelayEvents* events,
                                   std::unique_ptr<RelayEvents> ownReports, int workers)
    : m_display(display),
      m_ownReports(std::move(ownReports)),
      m_events(events != nullptr ? *events : *m_ownReports),
      m_traffic(display),
      m_workers([&] {
          const int count = WorkerThreads(workers);
          std::vector<std::unique_ptr<EventWorker>> made;
          made.reserve(static_cast<std::size_t>(count));
          for (int i = 0; i < count; ++i) {
              made.push_back(std::make_unique<EventWorker>());
          }
          return made;
      }()),
      m_acceptor(m_workers.front()->context),
      m_acceptRetry(m_workers.front()->context) {
    for (auto& worker : m_workers) {
        EventWorker* w = worker.get();
        w->thread = std::thread([w] { w->context.run(); });
    }
}

EventRelayEngine::~EventRelayEngine() {
    StopListening();
    CloseAll();
    WaitForWorkers(5000);
    for (auto& worker : m_workers) {
        worker->work.reset();
        worker->context.stop();
    }
    for (auto& worker : m_workers) {
        if (worker->thread.joinable()) {
            worker->thread.join();
        }
    }
    // Whatever a stopped context still held goes with it, on this thread.
    for (auto& worker : m_workers) {
        worker->live.clear();
    }
}

bool EventRelayEngine::StartListening(const StartRequest& request) {
    return BeginRun(request, true);
}

bool EventRelayEngine::BeginRun(const StartRequest& request, bool resetTotals) {
    // A run that was just stopped ends on its worker thread; a Start that
    // comes meanwhile waits for it briefly.
    if (!WaitForRunEnd(std::chrono::seconds(1))) {
        return false;
    }
    m_limit.store(request.connectionLimit);
    std::shared_ptr<EventRun> run = MakeRun(request);
    if (!run) {
        return false;
    }
    ReportUnresolvedTarget(*run);
    if (!OpenAcceptor(request)) {
        return false;
    }
    m_allowFrom = request.allowFrom;
    m_bindAddress = request.bindAddress;
    m_requestedPort = request.localPort;
    m_run = std::move(run);
    m_draining.store(false);

    if (resetTotals) {
        m_traffic.ResetTrafficCounters();
    }
    std::error_code ignored;
    const tcp::endpoint bound = m_acceptor.local_endpoint(ignored);
    m_events.Listening(ListenStarted{{ToIpAddress(bound.address()), bound.port()},
                                     m_run->targetHost,
                                     m_run->targetPort,
                                     m_run->mode,
                                     request.connectionLimit});
    m_listening.store(true);
    SetState(RunState::Listening);
    asio::post(m_workers.front()->context, [this] { Accept(); });
    return true;
}

std::shared_ptr<EventRun> EventRelayEngine::MakeRun(const StartRequest& request) {
    if (const auto refusal = CheckStartRequest(request)) {
        StartFailure failure;
        failure.refusal = refusal;
        m_events.StartFailed(failure);
        return nullptr;
    }
    auto run = std::make_shared<EventRun>();
    run->targetHost = TrimmedTarget(request.targetText);
    // "[::1]" is how an IPv6 literal is often written beside a port.
    std::string literal = run->targetHost;
    if (literal.size() > 2 && literal.front() == '[' && literal.back() == ']') {
        literal = literal.substr(1, literal.size() - 2);
    }
    run->targetLiteral = net::IpAddress::Parse(literal);
    run->targetPort = static_cast<std::uint16_t>(request.targetPort);
    run->mode = ChooseEncodeMode(request.encodeClient, request.encodeServer);
    run->chunkSize = EffectiveChunkSize(request.chunkSize);
    run->connectTimeout = request.connectTimeout;
    run->idleTimeout = request.idleTimeout;
    return run;
}

// Name service may come later: every connection looks the name up again.
void EventRelayEngine::ReportUnresolvedTarget(const EventRun& run) {
    if (run.targetLiteral) {
        return;
    }
    std::error_code ec;
    tcp::resolver resolver(m_workers.front()->context);
    if (resolver.resolve(run.targetHost, std::to_string(run.targetPort), ec).empty() || ec) {
        m_events.TargetUnresolved(run.targetHost, ec);
    }
}

bool EventRelayEngine::Reconfigure(const StartRequest& request) {
    if (!m_listening.load()) {
        return StartListening(request);
    }
    std::shared_ptr<EventRun> run = MakeRun(request);
    if (!run) {
        return false;
    }
    if (request.bindAddress != m_bindAddress || request.localPort != m_requestedPort) {
        // A new listener: the old run ends as Stop ends it, its connections go on.
        StopListening();
        if (!WaitForRunEnd(std::chrono::seconds(5))) {
            return false;
        }
        return BeginRun(request, false);  // the totals go on across a reload
    }
    ReportUnresolvedTarget(*run);
    m_limit.store(request.connectionLimit);
    // The acceptor's worker owns the run and the allow-list.
    asio::post(m_workers.front()->context,
               [this, run = std::shared_ptr<const EventRun>(std::move(run)),
                allow = request.allowFrom]() mutable {
                   m_run = std::move(run);
                   m_allowFrom = std::move(allow);
               });
    return true;
}

// Without a bind address the listener takes both families on one socket
// (dual-stack); where IPv6 is missing it falls back to IPv4 alone.
bool EventRelayEngine::OpenAcceptor(const StartRequest& request) {
    const net::IpAddress& bind = request.bindAddress;
    const auto port = static_cast<std::uint16_t>(request.localPort);
    std::vector<tcp::endpoint> choices;
    if (bind.IsUnspecified()) {
        choices.emplace_back(tcp::v6(), port);
        choices.emplace_back(tcp::v4(), port);
    } else {
        choices.emplace_back(ToAsioAddress(bind), port);
    }
    StartFailure failure;
    std::error_code ec;
    for (const tcp::endpoint& endpoint : choices) {
        ec.clear();
        m_acceptor.close(ec);
        failure.step = "socket";
        m_acceptor.open(endpoint.protocol(), ec);
        if (ec) {
            failure.error = ec;
            continue;
        }
        if (endpoint.protocol() == tcp::v6() && bind.IsUnspecified()) {
            m_acceptor.set_option(asio::ip::v6_only(false), ec);
        }
        net::AllowPortReuse(static_cast<net::Socket>(m_acceptor.native_handle()));
        failure.step = "bind";
        m_acceptor.bind(endpoint, ec);
        if (!ec) {
            failure.step = "listen";
            m_acceptor.listen(request.backlog, ec);
        }
        if (!ec) {
            m_listeningPort.store(m_acceptor.local_endpoint(ec).port());
            return true;
        }
        failure.error = ec;
        // A taken port is taken for both families; only a missing family is worth the next try.
        if (ec != asio::error::address_family_not_supported) {
            break;
        }
    }
    m_acceptor.close(ec);
    m_events.StartFailed(failure);
    return false;
}

bool EventRelayEngine::WaitForRunEnd(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_endLock);
    return m_ended.wait_for(lock, timeout, [this] { return !m_listening.load(); });
}

void EventRelayEngine::SetState(RunState state) {
    if (m_state.exchange(state) != state) {
        m_events.RunStateChanged(state);
    }
}

EventWorker& EventRelayEngine::NextWorker() {
    EventWorker& worker = *m_workers[m_nextWorker];
    m_nextWorker = (m_nextWorker + 1) % m_workers.size();
    return worker;
}

// The target's socket is opened before a client is accepted: out of
// descriptors, the client then waits in the listen queue until one is free,
// instead of being accepted and closed for want of a target connection.
void EventRelayEngine::Accept() {
    EventWorker& worker = NextWorker();
    const bool v6Target = m_run->targetLiteral && !m_run->targetLiteral->IsV4();
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
        RetryAcceptAfterError(error);
        return;
    }
    const unsigned run = m_runNumber.load();
    const EventRun* openedFor = m_run.get();
    m_acceptor.async_accept(
        worker.context, pending->client,
        [this, &worker, pending, run, openedFor](std::error_code error, tcp::socket client) {
            // An accept of a run that has ended comes back aborted; by then a
            // new run may own the acceptor, which it must not touch.
            if (run != m_runNumber.load()) {
                return;
            }
            OnAccepted(error, std::move(client), pending->client, std::move(pending->target),
                       openedFor, worker);
        });
}

void EventRelayEngine::OnAccepted(std::error_code error, tcp::socket client,
                                  const tcp::endpoint& peer, tcp::socket target,
                                  const EventRun* targetOpenedFor, EventWorker& worker) {
    // A listener that failed under the run (shut down from outside, say)
    // ends it as Stop does.
    if (error == asio::error::operation_aborted || !m_acceptor.is_open() ||
        (error && net::IsClosedListenerError(error.value()))) {
        EndAccepting();
        return;
    }
    if (error) {
        RetryAcceptAfterError(error);
        return;
    }
    std::error_code ec;
    const PeerAddress from{ToIpAddress(peer.address()), peer.port()};
    if (!IsAllowed(from.address)) {
        m_denied.fetch_add(1);
        client.close(ec);
        m_events.ClientRefused(from, RefusalReason::NotAllowed);
    } else if (m_shares.load() >= m_limit.load()) {
        Refuse(std::move(client), from);
    } else {
        // The first share is taken here, so a burst of clients is counted
        // before any of them runs.
        AdjustShares(+1);
        m_live.fetch_add(1);
        const std::uint64_t id = m_lastId.fetch_add(1) + 1;
        m_events.ConnectionAccepted(ConnectionReport{id, from, {}});
        // Opened for a run a reload has replaced, the target socket may be of
        // the wrong family: the connection opens its own.
        if (targetOpenedFor != m_run.get()) {
            target.close(ec);
        }
        EventConnectionHost& host = *this;
        auto sockets = std::make_shared<std::pair<tcp::socket, tcp::socket>>(std::move(client),
                                                                             std::move(target));
        asio::post(worker.context, [&host, &worker, run = m_run, id, sockets, peer] {
            std::make_shared<EventConnection>(host, worker, run, id, std::move(sockets->first),
                                              peer, std::move(sockets->second))
                ->Start();
        });
    }
    Accept();
}

void EventRelayEngine::RetryAcceptAfterError(std::error_code error) {
    m_events.AcceptFailed(error);
    m_acceptRetry.expires_after(kAcceptRetry);
    const unsigned run = m_runNumber.load();
    m_acceptRetry.async_wait([this, run](std::error_code ec) {
        if (run != m_runNumber.load()) {
            return;
        }
        if (ec || !m_acceptor.is_open()) {
            EndAccepting();
            return;
        }
        Accept();
    });
}

bool EventRelayEngine::IsAllowed(const net::IpAddress& client) const {
    if (m_allowFrom.empty()) {
        return true;
    }
    for (const net::IpRange& range : m_allowFrom) {
        if (range.Contains(client)) {
            return true;
        }
    }
    return false;
}

// The refusal text, mapped in Server mode where the client is the far relay,
// then the end of the stream.
void EventRelayEngine::Refuse(tcp::socket client, const PeerAddress& peer) {
    m_refused.fetch_add(1);
    m_events.ClientRefused(peer, RefusalReason::LimitReached);
    struct Refusal {
        tcp::socket socket;
        std::string text;
    };
    auto refusal = std::make_shared<Refusal>(Refusal{std::move(client), RefusalBytes(m_run->mode)});
    asio::async_write(refusal->socket, asio::buffer(refusal->text),
                      [refusal](std::error_code, std::size_t) {
                          std::error_code ignored;
                          refusal->socket.shutdown(tcp::socket::shutdown_both, ignored);
                          refusal->socket.close(ignored);
                      });
}

// On the first worker's thread. The run's pending accept or retry, if any,
// finds a new run number when it comes back, and leaves the acceptor alone.
void EventRelayEngine::EndAccepting() {
    if (!m_listening.load()) {
        return;
    }
    m_runNumber.fetch_add(1);
    std::error_code ignored;
    m_acceptor.close(ignored);
    // While draining, the run is over only when its connections are.
    if (!m_draining.load()) {
        SetState(RunState::Idle);
    }
    {
        std::lock_guard<std::mutex> lock(m_endLock);
        m_listening.store(false);
    }
    m_ended.notify_all();
}

void EventRelayEngine::StopListening() {
    if (!m_listening.load()) {
        return;
    }
    SetState(RunState::Stopping);
    // A run that ends by itself before this is carried out has moved the
    // number on: a Start may already be opening the next run.
    const unsigned run = m_runNumber.load();
    asio::post(m_workers.front()->context, [this, run] {
        if (run != m_runNumber.load()) {
            return;
        }
        m_acceptRetry.cancel();
        EndAccepting();  // closes the acceptor; its pending accept ends aborted
    });
}

void EventRelayEngine::CloseAll() {
    for (auto& worker : m_workers) {
        EventWorker* w = worker.get();
        asio::post(w->context, [w] {
            const auto open = w->live;  // Close takes each out of the set
            for (const auto& connection : open) {
                connection->Close(CloseReason::Stopped);
            }
        });
    }
}

bool EventRelayEngine::Drain(std::chrono::milliseconds grace) {
    m_draining.store(true);
    StopListening();
    std::unique_lock<std::mutex> lock(m_endLock);
    const bool finished =
        m_ended.wait_for(lock, grace, [this] { return m_live.load() == 0 && !m_listening.load(); });
    lock.unlock();
    if (!finished) {
        CloseAll();
        WaitForWorkers(5000);
    }
    m_draining.store(false);
    SetState(RunState::Idle);
    return finished;
}

bool EventRelayEngine::WaitForWorkers(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_endLock);
    return m_ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return m_live.load() == 0 && !m_listening.load(); });
}

void EventRelayEngine::AddTraffic(TrafficDirection direction, std::int64_t bytes) {
    m_traffic.AddTrafficBytes(direction, bytes);
}

void EventRelayEngine::TakeShare() {
    AdjustShares(+1);
}

void EventRelayEngine::ReleaseShares(int shares) {
    if (shares != 0) {
        AdjustShares(-shares);
    }
}

void EventRelayEngine::AdjustShares(int delta) {
    CScopedLock lock(m_csCount);
    const int count = m_shares.fetch_add(delta) + delta;
    m_display.ShowConnectionCount(count);
}

void EventRelayEngine::ConnectionOpened(const ConnectionReport& connection) {
    m_events.ConnectionOpened(connection);
}

void EventRelayEngine::ConnectionClosed(const ConnectionEnd& end) {
    m_events.ConnectionClosed(end);
    {
        std::lock_guard<std::mutex> lock(m_endLock);
        m_live.fetch_sub(1);
    }
    m_ended.notify_all();
}
