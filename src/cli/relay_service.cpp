#include "cli/relay_service.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "cli/process_signals.h"
#include "cli/stats_line.h"

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr auto kTickInterval = std::chrono::seconds(1);

const char* EngineName(EngineChoice engine) {
    return engine == EngineChoice::Events ? "events" : "threads";
}

bool SameListener(const StartRequest& a, const StartRequest& b) {
    return a.bindAddress == b.bindAddress && a.localPort == b.localPort;
}

// Ends the process without running destructors: the threaded engine's open
// connections keep their pump threads, and none of them may touch the engine
// after it is gone.
[[noreturn]] void EndNow(int code) {
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
      m_reports({&m_eventLog}) {
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
    RunUntilStopped();
    return Stop();
}

bool RelayService::Start() {
    return m_engine->StartListening(m_config.start);
}

void RelayService::RunUntilStopped() {
    auto nextTick = std::chrono::steady_clock::now() + kTickInterval;
    while (!StopRequested()) {
        std::this_thread::sleep_for(kPollInterval);
        if (TakeReloadRequest()) {
            Reload();
        }
        if (std::chrono::steady_clock::now() < nextTick) {
            continue;
        }
        nextTick += kTickInterval;
        const SpeedSample speeds = m_engine->TickSpeeds();
        if (m_config.statsInterval.count() > 0) {
            m_statsOut.WriteAlways(
                LogLine("stats").Add("text", FormatStatsLine(*m_engine, speeds)));
        }
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
                        .Add("key", "Engine")
                        .Add("reason", "the engine changes only with a restart"));
        next.engine = m_config.engine;
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
}

int RelayService::Stop() {
    const auto grace = m_config.drainTimeout;
    m_log.Write(LogLine(LogLevel::Info, "stopping")
                    .Add("live", m_eventEngine ? m_eventEngine->LiveConnections()
                                               : m_engine->ConnectionCount() / 2)
                    .Add("drain_timeout",
                         static_cast<std::int64_t>(
                             std::chrono::duration_cast<std::chrono::seconds>(grace).count())));
    if (m_eventEngine) {
        const bool finished = m_eventEngine->Drain(grace);
        m_log.Write(LogLine(LogLevel::Info, "stopped")
                        .Add("drained", finished ? "all" : "cut_at_deadline"));
        m_eventEngine.reset();  // closes what is left and joins its threads
        return 0;
    }
    m_engine->StopListening();
    const bool finished = m_engine->WaitForWorkers(static_cast<int>(grace.count()));
    m_log.Write(
        LogLine(LogLevel::Info, "stopped").Add("drained", finished ? "all" : "cut_at_deadline"));
    EndNow(0);
}
