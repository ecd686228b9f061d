#include "relay/event/event_engine.h"

#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

#include <cstdio>
#include <cstring>
#include <future>
#include <optional>
#include <string>

#include "platform/net.h"
#include "relay/display_reports.h"
#include "relay/start_checks.h"
#include "relay/target_resolution.h"

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

// Accepted sockets take these from their listener where the system passes
// them on; elsewhere each connection sets them on its client.
void TuneListener(tcp::acceptor& acceptor) {
    if (!net::kAcceptedSocketsKeepTuning) {
        return;
    }
    std::error_code ignored;
    acceptor.set_option(tcp::no_delay(true), ignored);
    net::SetKeepAliveTimes(static_cast<net::Socket>(acceptor.native_handle()));
}

struct AcceptorOptions {
    bool dualStack = false;
    bool sharePort = false;
    std::optional<int> backlog;  // none: bound, not listening
};

std::error_code OpenAcceptor(tcp::acceptor& acceptor, const tcp::endpoint& endpoint,
                             const AcceptorOptions& options, ListenStep& step) {
    std::error_code ec;
    acceptor.close(ec);
    step = ListenStep::Socket;
    acceptor.open(endpoint.protocol(), ec);
    if (ec) {
        return ec;
    }
    if (options.dualStack) {
        acceptor.set_option(asio::ip::v6_only(false), ec);
    }
    const auto handle = static_cast<net::Socket>(acceptor.native_handle());
    net::AllowPortReuse(handle);
    if (options.sharePort) {
        net::SharePort(handle);
    }
    step = ListenStep::Bind;
    acceptor.bind(endpoint, ec);
    if (ec || !options.backlog) {
        return ec;
    }
    TuneListener(acceptor);
    step = ListenStep::Listen;
    acceptor.listen(*options.backlog, ec);
    return ec;
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
      m_listeners([this] {
          std::vector<std::unique_ptr<EventListener>> made;
          for (auto& worker : m_workers) {
              made.push_back(std::make_unique<EventListener>(*worker));
              if (!net::kListenersSharePort) {
                  break;
              }
          }
          return made;
      }()) {
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
    if (!OpenAcceptors(request)) {
        return false;
    }
    m_bindAddress = request.bindAddress;
    m_requestedPort = request.localPort;
    // No run is on: the workers leave the listeners alone until the posts below.
    for (auto& listener : m_listeners) {
        listener->run = run;
        listener->allowFrom = request.allowFrom;
        listener->runNumber = m_runNumber.load();
    }
    m_draining.store(false);

    if (resetTotals) {
        m_traffic.ResetTrafficCounters();
    }
    std::error_code ignored;
    const tcp::endpoint bound = m_listeners.front()->acceptor.local_endpoint(ignored);
    m_events.Listening(ListenStarted{{ToIpAddress(bound.address()), bound.port()},
                                     run->target.host,
                                     static_cast<std::uint16_t>(request.targetPort),
                                     request.encode,
                                     request.connectionLimit});
    m_openListeners.store(static_cast<int>(m_listeners.size()));
    m_listening.store(true);
    SetState(RunState::Listening);
    for (auto& listener : m_listeners) {
        EventListener* l = listener.get();
        asio::post(l->worker.context, [this, l] { Accept(*l); });
    }
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
    run->settings = request;
    run->settings.chunkSize = EffectiveChunkSize(request.chunkSize);
    run->target = ParseTarget(TrimmedTarget(request.targetText), TargetForm::Literal);
    return run;
}

// Name service may come later: every connection looks the name up again.
void EventRelayEngine::ReportUnresolvedTarget(const EventRun& run) {
    if (run.target.literal) {
        return;
    }
    std::error_code ec;
    tcp::resolver resolver(m_workers.front()->context);
    const std::string port = std::to_string(run.settings.targetPort);
    if (resolver.resolve(run.target.host, port, ec).empty() || ec) {
        m_events.TargetUnresolved(run.target.host, ec);
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
    // Each acceptor's worker owns its copy of the run and the allow-list; a
    // client accepted once this returns gets the new ones, whichever accepts it.
    const std::shared_ptr<const EventRun> shared = std::move(run);
    std::vector<std::future<void>> swapped;
    for (auto& listener : m_listeners) {
        auto done = std::make_shared<std::promise<void>>();
        swapped.push_back(done->get_future());
        EventListener* l = listener.get();
        asio::post(l->worker.context, [l, shared, allow = request.allowFrom, done]() mutable {
            l->run = shared;
            l->allowFrom = std::move(allow);
            done->set_value();
        });
    }
    for (auto& swap : swapped) {
        swap.wait();
    }
    return true;
}

// Without a bind address the listener takes both families on one socket
// (dual-stack); where IPv6 is missing it falls back to IPv4 alone.
bool EventRelayEngine::OpenAcceptors(const StartRequest& request) {
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
    for (const tcp::endpoint& endpoint : choices) {
        const bool dualStack = endpoint.protocol() == tcp::v6() && bind.IsUnspecified();
        failure.error = OpenAcceptorGroup(endpoint, dualStack, request.backlog, failure.step);
        if (!failure.error) {
            std::error_code ignored;
            m_listeningPort.store(m_listeners.front()->acceptor.local_endpoint(ignored).port());
            return true;
        }
        CloseAcceptors();
        // A taken port is taken for both families; only a missing family is worth the next try.
        if (failure.error != asio::error::address_family_not_supported) {
            break;
        }
    }
    m_events.StartFailed(failure);
    return false;
}

// A listener that shares its port would also share it, silently, with another
// relay that listens there already: the port is first bound alone, as a single
// listener binds it, which fails when the port is taken and learns port 0's
// port. Then every acceptor binds that port, shared, and listens.
std::error_code EventRelayEngine::OpenAcceptorGroup(const tcp::endpoint& endpoint, bool dualStack,
                                                    int backlog, ListenStep& step) {
    tcp::acceptor& first = m_listeners.front()->acceptor;
    if (m_listeners.size() == 1) {
        return OpenAcceptor(first, endpoint, {dualStack, false, backlog}, step);
    }
    std::error_code ec = OpenAcceptor(first, endpoint, {dualStack, false, std::nullopt}, step);
    if (ec) {
        return ec;
    }
    tcp::endpoint shared = endpoint;
    shared.port(first.local_endpoint(ec).port());
    first.close(ec);
    for (auto& listener : m_listeners) {
        ec = OpenAcceptor(listener->acceptor, shared, {dualStack, true, backlog}, step);
        if (ec) {
            return ec;
        }
    }
    return {};
}

void EventRelayEngine::CloseAcceptors() {
    std::error_code ignored;
    for (auto& listener : m_listeners) {
        listener->acceptor.close(ignored);
    }
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

// A listener that shares the port keeps its clients on its own worker.
EventWorker& EventRelayEngine::NextWorker(EventListener& listener) {
    if (m_listeners.size() > 1) {
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
        Refuse(std::move(client), from, listener.run->settings.encode, RefusalReason::AddressLimit);
    } else if (!Admit()) {
        m_clientsByAddress.Remove(from.address);
        Refuse(std::move(client), from, listener.run->settings.encode, RefusalReason::LimitReached);
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
            std::make_shared<EventConnection>(host, worker, listener.run, id, std::move(client),
                                              peer, std::move(target))
                ->Start();
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

// The refusal text, mapped in Server mode where the client is the far relay,
// then the end of the stream.
void EventRelayEngine::Refuse(tcp::socket client, const PeerAddress& peer, EncodeMode mode,
                              RefusalReason reason) {
    m_refused.fetch_add(1);
    m_events.ClientRefused(peer, reason);
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

// Whoever moves the run number on ends the run: every acceptor is closed on
// its own worker, and their pending accepts and retries, when they come back,
// find the new number and leave the acceptors alone.
void EventRelayEngine::EndRun(unsigned run) {
    if (!m_runNumber.compare_exchange_strong(run, run + 1)) {
        return;
    }
    for (auto& listener : m_listeners) {
        EventListener* l = listener.get();
        asio::post(l->worker.context, [this, l] { CloseListener(*l); });
    }
}

void EventRelayEngine::CloseListener(EventListener& listener) {
    listener.acceptRetry.cancel();
    std::error_code ignored;
    listener.acceptor.close(ignored);
    if (m_openListeners.fetch_sub(1) != 1) {
        return;
    }
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
    // A run that ends by itself meanwhile has moved the number on already.
    EndRun(m_runNumber.load());
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
    m_clientsByAddress.Remove(end.connection.client.address);
    m_events.ConnectionClosed(end);
    {
        std::lock_guard<std::mutex> lock(m_endLock);
        m_live.fetch_sub(1);
    }
    m_ended.notify_all();
}
