#include "relay/event/event_engine.h"

#include <asio/post.hpp>

#include <future>
#include <string>

#include "relay/display_reports.h"
#include "relay/event/asio_address.h"
#include "relay/event/event_connection.h"
#include "relay/start_checks.h"

namespace {

// How long a drain waits for the listeners to close on their workers.
constexpr auto kListenerCloseWait = std::chrono::seconds(5);

using tcp = asio::ip::tcp;

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
      m_listeners(m_workers) {
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
        worker->spares.clear();
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
    if (const auto failure = m_listeners.Open(
            request.bindAddress, static_cast<std::uint16_t>(request.localPort), request.backlog)) {
        m_events.StartFailed(*failure);
        return false;
    }
    m_listeningPort.store(m_listeners.LocalEndpoint().port());
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
    const tcp::endpoint bound = m_listeners.LocalEndpoint();
    m_events.Listening(ListenStarted{{ToIpAddress(bound.address()), bound.port()},
                                     run->target.host,
                                     static_cast<std::uint16_t>(request.targetPort),
                                     request.encode,
                                     request.connectionLimit,
                                     request.linkKey && request.encode != EncodeMode::None});
    m_openListeners.store(static_cast<int>(m_listeners.Count()));
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
    return std::make_shared<EventRun>(RunFor(request));
}

// Name service may come later: every connection looks the name up again.
void EventRelayEngine::ReportUnresolvedTarget(const EventRun& run) {
    if (run.target.literal) {
        return;
    }
    std::error_code ec;
    tcp::resolver resolver(m_workers.front()->context);
    if (resolver.resolve(run.target.host, std::to_string(run.settings.targetPort), ec).empty() ||
        ec) {
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

bool EventRelayEngine::WaitForRunEnd(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_endLock);
    return m_ended.wait_for(lock, timeout, [this] { return !m_listening.load(); });
}

void EventRelayEngine::SetState(RunState state) {
    if (m_state.exchange(state) != state) {
        m_events.RunStateChanged(state);
    }
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
    CloseSpares(listener.worker);
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

bool EventRelayEngine::Drain(std::chrono::milliseconds grace,
                             const std::function<void()>& stoppedAccepting) {
    m_draining.store(true);
    StopListening();
    std::unique_lock<std::mutex> lock(m_endLock);
    // The listeners close on their workers; until then a client could still be admitted.
    m_ended.wait_for(lock, kListenerCloseWait, [this] { return !m_listening.load(); });
    lock.unlock();
    stoppedAccepting();
    lock.lock();
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
