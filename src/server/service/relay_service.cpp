#include "server/service/relay_service.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "server/service/control_loop.h"
#include "server/service/process_signals.h"
#include "server/service/relay_engines.h"
#include "server/service/service_manager.h"

namespace {

bool SameListener(const StartRequest& a, const StartRequest& b) {
    return a.bindAddress == b.bindAddress && a.localPort == b.localPort;
}

// Ends the process without running destructors, for an engine whose threads
// may outlive it (the threaded engine's pumps of open connections): none of
// them may touch the engine after it is gone. The queued lines are written first.
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
      m_eventLog(log, NameOf(m_config.engine, kEngineNames)),
      m_reports({&m_eventLog, &m_metrics}),
      m_engine(MakeRelayEngine(m_config.engine, m_display, m_reports)) {
    m_engine->SetHidden(true);  // nothing draws totals; the engine may skip the display
}

RelayService::~RelayService() = default;

int RelayService::Run() {
    if (!Start()) {
        return 1;
    }
    if (!StartMetrics()) {
        m_engine->StopListening();
        if (m_engine->ThreadsMayOutliveIt()) {
            EndNow(1, m_log, m_statsOut);
        }
        return 1;
    }
    NotifyServiceManager(kServiceReady);
    RunUntilStopped();
    return Stop();
}

bool RelayService::Start() {
    return m_engine->StartListening(m_config.start);
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
    snapshot.clients = m_engine->LiveConnections();
    snapshot.refused = m_engine->RefusedCount() + m_engine->DeniedCount();
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
    if (!m_engine->Reconfigure(next.start)) {
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
                    .Add("listener", sameListener && m_engine->KeepsListenerOnReconfigure()
                                         ? "kept"
                                         : "reopened"));
    m_config.start = next.start;
    m_config.logLevel = next.logLevel;
    m_config.drainTimeout = next.drainTimeout;
    m_config.statsInterval = next.statsInterval;
}

int RelayService::Stop() {
    NotifyServiceManager(kServiceStopping);
    const auto grace = m_config.drainTimeout;
    // Written once no new client can be admitted, so "stopping" means it.
    const bool finished = m_engine->Drain(grace, [&] {
        m_log.Write(LogLine(LogLevel::Info, "stopping")
                        .Add("live", m_engine->LiveConnections())
                        .Add("drain_timeout",
                             static_cast<std::int64_t>(
                                 std::chrono::duration_cast<std::chrono::seconds>(grace).count())));
    });
    m_eventLog.WriteAllSummaries(std::chrono::steady_clock::now());
    m_log.Write(
        LogLine(LogLevel::Info, "stopped").Add("drained", finished ? "all" : "cut_at_deadline"));
    if (m_engine->ThreadsMayOutliveIt()) {
        EndNow(0, m_log, m_statsOut);
    }
    m_metricsServer.reset();
    m_engine.reset();  // closes what is left and joins its threads
    return 0;
}
