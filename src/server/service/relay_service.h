// vorlane-relay's life once its settings are read: start the engine, log,
// reload on request, and on a stop request drain and end.
#pragma once

#include <chrono>
#include <memory>

#include "relay/relay_control.h"
#include "server/config/relay_config.h"
#include "server/config/relay_options.h"
#include "server/logging/event_log.h"
#include "server/logging/log_writer.h"
#include "server/logging/stats_line.h"
#include "server/metrics/metrics_server.h"
#include "server/metrics/relay_metrics.h"
#include "server/service/events_fan_out.h"
#include "server/service/no_display.h"

class RelayService {
  public:
    RelayService(const RelayOptions& options, RelayConfig config, LogWriter& log,
                 LogWriter& statsOut);
    ~RelayService();
    RelayService(const RelayService&) = delete;
    RelayService& operator=(const RelayService&) = delete;

    // Until a stop request has been carried out; the process's exit code.
    // With an engine whose threads may outlive it the process ends inside (see EndNow).
    int Run();

  private:
    bool Start();
    bool StartMetrics();
    void RunUntilStopped();
    void PrintStats(std::chrono::steady_clock::time_point now);
    // Reads the config file again; a file that does not check changes nothing.
    void Reload();
    int Stop();

    const RelayOptions& m_options;
    RelayConfig m_config;
    LogWriter& m_log;
    LogWriter& m_statsOut;
    NoDisplay m_display;
    EventLog m_eventLog;
    RelayMetrics m_metrics;
    EventsFanOut m_reports;
    StatsReporter m_stats;
    std::unique_ptr<MetricsServer> m_metricsServer;
    std::unique_ptr<RelayControl> m_engine;
};
