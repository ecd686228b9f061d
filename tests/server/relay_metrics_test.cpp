// The counters behind --metrics and their Prometheus text.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/metrics/relay_metrics.h"
#include "vorlane_version.h"

namespace {

std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.insert(line);
    }
    return lines;
}

ConnectionEnd EndedBy(CloseReason reason) {
    ConnectionEnd end;
    end.reason = reason;
    return end;
}

TEST(RelayMetricsTest, CountsARunAndWritesEverySeriesWithItsType) {
    RelayMetrics metrics;
    metrics.Listening(ListenStarted{});
    for (int i = 0; i < 3; ++i) {
        metrics.ConnectionAccepted(ConnectionReport{});
    }
    metrics.ConnectionOpened(ConnectionReport{});
    metrics.ConnectionClosed(EndedBy(CloseReason::ClientClosed));
    metrics.ConnectionClosed(EndedBy(CloseReason::ConnectTimeout));
    metrics.ClientRefused(PeerAddress{}, RefusalReason::LimitReached);
    metrics.AcceptFailed(std::make_error_code(std::errc::too_many_files_open));
    metrics.TargetUnresolved("db.example", std::make_error_code(std::errc::invalid_argument));

    TrafficTotals traffic;
    traffic.bytesUp = 5000;
    traffic.bytesDown = 300;
    traffic.relayShares = 2;
    traffic.logLinesDropped = 7;
    const std::set<std::string> lines = Lines(metrics.PrometheusText(traffic));
    for (const char* expected : {
             "# TYPE vorlane_connections_open gauge",
             "vorlane_connections_open 1",
             "# TYPE vorlane_connections_accepted_total counter",
             "vorlane_connections_accepted_total 3",
             "vorlane_clients_refused_total{reason=\"limit\"} 1",
             "vorlane_clients_refused_total{reason=\"not_allowed\"} 0",
             "# TYPE vorlane_connections_closed_total counter",
             "vorlane_connections_closed_total{reason=\"client_closed\"} 1",
             "vorlane_connections_closed_total{reason=\"connect_timeout\"} 1",
             "vorlane_connections_closed_total{reason=\"stopped\"} 0",
             "vorlane_bytes_total{direction=\"up\"} 5000",
             "vorlane_bytes_total{direction=\"down\"} 300",
             "vorlane_connect_failures_total 1",
             "vorlane_lookup_failures_total 0",
             "vorlane_accept_errors_total 1",
             "# TYPE vorlane_relay_shares gauge",
             "vorlane_relay_shares 2",
             "# TYPE vorlane_listening gauge",
             "vorlane_listening 1",
             "# TYPE vorlane_log_lines_dropped_total counter",
             "vorlane_log_lines_dropped_total 7",
         }) {
        EXPECT_EQ(lines.count(expected), 1U) << expected;
    }
    const std::string buildInfo =
        std::string("vorlane_build_info{version=\"") + VORLANE_VERSION_TEXT + "\"} 1";
    EXPECT_EQ(lines.count(buildInfo), 1U);

    // Every reason is present, zeros included, each metric described once.
    std::size_t closedSeries = 0;
    std::size_t helpLines = 0;
    for (const std::string& line : lines) {
        closedSeries += line.rfind("vorlane_connections_closed_total{", 0) == 0 ? 1 : 0;
        helpLines += line.rfind("# HELP vorlane_", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(closedSeries, kCloseReasonCount);
    EXPECT_EQ(helpLines, 12U);

    metrics.RunStateChanged(RunState::Stopping);
    EXPECT_EQ(Lines(metrics.PrometheusText({})).count("vorlane_listening 0"), 1U);
}

TEST(RelayMetricsTest, ReportsFromManyThreadsAreAllCounted) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 1980;  // a multiple of the close reasons
    static_assert(kPerThread % kCloseReasonCount == 0);
    RelayMetrics metrics;
    std::vector<std::thread> workers;
    workers.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&metrics] {
            for (int i = 0; i < kPerThread; ++i) {
                metrics.ConnectionAccepted(ConnectionReport{});
                metrics.ConnectionClosed(EndedBy(static_cast<CloseReason>(i % kCloseReasonCount)));
                metrics.ClientRefused(PeerAddress{}, static_cast<RefusalReason>(i % 2));
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }

    const MetricsCounts counts = metrics.Counts();
    const std::int64_t total = std::int64_t{kThreads} * kPerThread;
    EXPECT_EQ(counts.accepted, total);
    EXPECT_EQ(counts.open, 0);
    for (const std::int64_t closed : counts.closed) {
        EXPECT_EQ(closed, total / static_cast<std::int64_t>(kCloseReasonCount));
    }
    EXPECT_EQ(counts.RefusedTotal(), total);
    EXPECT_EQ(counts.connectFailures, 2 * total / static_cast<std::int64_t>(kCloseReasonCount));
    EXPECT_EQ(counts.lookupFailures, total / static_cast<std::int64_t>(kCloseReasonCount));

    const std::set<std::string> lines = Lines(metrics.PrometheusText({}));
    EXPECT_EQ(lines.count("vorlane_connections_accepted_total " + std::to_string(total)), 1U);
    EXPECT_EQ(lines.count("vorlane_clients_refused_total{reason=\"not_allowed\"} " +
                          std::to_string(total / 2)),
              1U);
}

}  // namespace
