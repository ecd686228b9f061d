#include "server/service/relay_service.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "server/service/control_loop.h"
#include "server/service/process_signals.h"
#include "server/service/service_manager.h"

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);

const char* EngineName(EngineChoice engine) {
    return NameOf(engine, kEngineNames);
}

bool SameListener(const StartRequest& a, const StartRequest& b) {
    return a.bindAddress == b.bindAddress && a.localPort == b.localPort;
}

// Ends the process without running destructors: the threaded engine's open
// connections keep their pump threads, and none of them may touch the engine
// after it is gone. The queued lines are written first.
[[noreturn]] void EndNow(int code, LogWriter& log, LogWriter& statsOut) {
    statsOut.Flush();
    log.Flush();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(code);
}

}  // namespace

RelayService::RelayService(const RelayOptions& options, RelayConfig config, LogWriter& log,
                           LogWriter& statsOut)
    : m_options(options),
      m_config(std::move(config)),
      m_log(log),
      m_statsOut(statsOut),
      m_display(log),
      m_eventLog(log, EngineName(m_config.engine)),
      m_reports({&m_eventLog, &m_metrics}) {
    if (m_config.engine == EngineChoice::Events) {
        m_eventEngine = std::make_unique<EventRelayEngine>(m_display, m_reports);
        m_engine = m_eventEngine.get();
    } else {
        m_threadEngine = std::make_unique<RelayEngine>(m_display);
        m_engine = m_threadEngine.get();
    }
    m_engine->SetHidden(true);  // nothing draws totals; the engine may skip the display
}

RelayService::~RelayService() = default;

int RelayService::Run() {
    if (!Start()) {
        return 1;
    }
    if (!StartMetrics()) {
        m_engine->StopListening();
        if (m_threadEngine) {
            EndNow(1, m_log, m_statsOut);
        }
        return 1;
    }
    NotifyServiceManager(kServiceReady);
    RunUntilStopped();
    return Stop();
}

bool RelayService::Start() {
    if (!m_engine->StartListening(m_config.start)) {
        return false;
    }
    if (m_threadEngine) {
        LogThreadsListening();
    }
    return true;
}

void RelayService::LogThreadsListening() {
    const StartRequest& start = m_config.start;
    m_log.Write(LogLine(LogLevel::Info, "listening")
                    .Add("address", start.bindAddress.ToString())
                    .Add("port", m_engine->ListeningPort())
                    .Add("target", start.targetText)
                    .Add("target_port", start.targetPort)
                    .Add("mode", EncodeModeName(start.encode))
                    .Add("limit", start.connectionLimit)
                    .Add("engine", EngineName(m_config.engine)));
}

bool RelayService::StartMetrics() {
    if (!m_config.metrics) {
        return true;
    }
    m_metricsServer = std::make_unique<MetricsServer>([this] {
        return m_metrics.PrometheusText({m_engine->BytesUp(), m_engine->BytesDown(),
                                         m_engine->ConnectionCount(),
                                         m_log.DroppedLines() + m_statsOut.DroppedLines()});
    });
    const MetricsEndpoint& endpoint = *m_config.metrics;
    if (const auto failure = m_metricsServer->Start(endpoint.address, endpoint.port)) {
        m_log.Write(
            LogLine(LogLevel::Error, "metrics_failed")
                .Add("address", endpoint.address.ToString())
                .Add("port", static_cast<int>(endpoint.port))
                .Add("error", std::string(failure->step) + ": " + ErrorText(failure->error)));
        return false;
    }
    m_log.Write(LogLine(LogLevel::Info, "metrics")
                    .Add("address", endpoint.address.ToString())
                    .Add("port", static_cast<int>(m_metricsServer->Port())));
    return true;
}

void RelayService::RunUntilStopped() {
    ControlLoop::Work work;
    work.tick = [this](ControlLoop::Clock::time_point now) {
        m_engine->TickSpeeds();  // the engine samples its speeds once a second
        m_eventLog.WriteEndedSummaries(now);
    };
    work.stats = [this](ControlLoop::Clock::time_point now) { PrintStats(now); };
    work.reload = [this] {
        NotifyServiceManager(kServiceReloading);
        Reload();
        NotifyServiceManager(kServiceReady);
    };
    work.statsInterval = [this] { return m_config.statsInterval; };
    ControlLoop loop(std::move(work));
    // Last made, first gone: no request reaches the loop once it has ended.
    const ServedSignals served(
        {[&loop] { loop.RequestStop(); }, [&loop] { loop.RequestReload(); }});
    loop.Run();
}

void RelayService::PrintStats(std::chrono::steady_clock::time_point now) {
    StatsSnapshot snapshot;
    snapshot.shares = m_engine->ConnectionCount();
    snapshot.bytesUp = m_engine->BytesUp();
    snapshot.bytesDown = m_engine->BytesDown();
    if (m_eventEngine) {
        snapshot.clients = m_eventEngine->LiveConnections();
        snapshot.refused = m_eventEngine->RefusedCount() + m_eventEngine->DeniedCount();
    } else {
        // Two shares per relayed client, one while its target is reached.
        snapshot.clients = (snapshot.shares + 1) / 2;
        snapshot.refused = m_engine->DeniedCount();
    }
    const auto interval =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_config.statsInterval);
    if (const auto line = m_stats.Next(snapshot, interval, now)) {
        m_statsOut.WriteAlways(LogLine::Raw(*line));
    }
}

void RelayService::Reload() {
    const std::string file = m_config.configPath.value_or("");
    auto loaded = LoadRelayConfig(m_options);
    if (const auto* error = std::get_if<ConfigError>(&loaded)) {
        m_log.Write(LogLine(LogLevel::Error, "reload_failed")
                        .Add("file", file)
                        .Add("error", error->message));
        return;
    }
    RelayConfig next = std::get<RelayConfig>(std::move(loaded));
    if (next.engine != m_config.engine) {
        m_log.Write(LogLine(LogLevel::Warn, "reload_ignored")
                        .Add("key", RowOf(Setting::Engine).key)
                        .Add("reason", "the engine changes only with a restart"));
        next.engine = m_config.engine;
    }
    if (!(next.metrics == m_config.metrics)) {
        m_log.Write(LogLine(LogLevel::Warn, "reload_ignored")
                        .Add("key", RowOf(Setting::Metrics).key)
                        .Add("reason", "the metrics endpoint changes only with a restart"));
    }
    const bool sameListener = SameListener(next.start, m_config.start);
    bool applied = false;
    if (m_eventEngine) {
        applied = m_eventEngine->Reconfigure(next.start);
    } else {
        // The threaded engine's run keeps its settings: a new run takes the
        // new ones, while the old run's connections go on.
        m_engine->StopListening();
        for (int i = 0; i < 100 && m_engine->IsListening(); ++i) {
            std::this_thread::sleep_for(kPollInterval);
        }
        applied = m_engine->StartListening(next.start);
    }
    if (applied && m_threadEngine) {
        LogThreadsListening();
    }
    if (!applied) {
        // The refusal or failure is logged; carry on with what ran before.
        if (!m_engine->IsListening() && !m_engine->StartListening(m_config.start)) {
            m_log.Write(LogLine(LogLevel::Error, "reload_failed")
                            .Add("file", file)
                            .Add("error", "listening could not start again"));
        }
        return;
    }
    m_log.SetLevel(next.logLevel);
    m_log.Write(LogLine(LogLevel::Info, "reload")
                    .Add("file", file)
                    .Add("listener", sameListener && m_eventEngine ? "kept" : "reopened"));
    m_config.start = next.start;
    m_config.logLevel = next.logLevel;
    m_config.drainTimeout = next.drainTimeout;
    m_config.statsInterval = next.statsInterval;
}

int RelayService::Stop() {
    NotifyServiceManager(kServiceStopping);
    const auto grace = m_config.drainTimeout;
    m_log.Write(LogLine(LogLevel::Info, "stopping")
                    .Add("live", m_eventEngine ? m_eventEngine->LiveConnections()
                                               : m_engine->ConnectionCount() / 2)
                    .Add("drain_timeout",
                         static_cast<std::int64_t>(
                             std::chrono::duration_cast<std::chrono::seconds>(grace).count())));
    if (m_eventEngine) {
        const bool finished = m_eventEngine->Drain(grace);
        m_eventLog.WriteAllSummaries(std::chrono::steady_clock::now());
        m_log.Write(LogLine(LogLevel::Info, "stopped")
                        .Add("drained", finished ? "all" : "cut_at_deadline"));
        m_metricsServer.reset();
        m_eventEngine.reset();  // closes what is left and joins its threads
        return 0;
    }
    m_engine->StopListening();
    const bool finished = m_engine->WaitForWorkers(static_cast<int>(grace.count()));
    m_log.Write(
        LogLine(LogLevel::Info, "stopped").Add("drained", finished ? "all" : "cut_at_deadline"));
    EndNow(0, m_log, m_statsOut);
}
