// The relay's counters for --metrics, fed by the engine's reports and
// written out in the Prometheus text format. Reports arrive on several
// worker threads at once; one lock keeps each scrape a consistent snapshot
// (open is always accepted minus closed), and it is held only to bump or copy.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "relay/relay_events.h"

// What the engine and the log count themselves; the caller reads it at
// scrape time.
struct TrafficTotals {
    std::int64_t bytesUp = 0;          // client to target
    std::int64_t bytesDown = 0;        // target to client
    int relayShares = 0;               // as the limit counts them
    std::int64_t logLinesDropped = 0;  // by a full log queue
};

inline constexpr std::size_t kCloseReasonCount = 11;
inline constexpr std::size_t kRefusalReasonCount = 3;

struct MetricsCounts {
    std::int64_t accepted = 0;
    std::int64_t open = 0;                                    // accepted and not yet closed
    std::array<std::int64_t, kCloseReasonCount> closed{};     // indexed by CloseReason
    std::array<std::int64_t, kRefusalReasonCount> refused{};  // indexed by RefusalReason
    std::int64_t connectFailures = 0;  // closed as ConnectFailed or ConnectTimeout
    std::int64_t lookupFailures = 0;   // closed as LookupFailed
    std::int64_t acceptErrors = 0;
    bool listening = false;

    std::int64_t RefusedTotal() const;
};

class RelayMetrics final : public RelayEvents {
  public:
    void Listening(const ListenStarted& started) override;
    void StartFailed(const StartFailure& failure) override;
    void TargetUnresolved(const std::string& host, std::error_code error) override;
    void RunStateChanged(RunState state) override;
    void ConnectionAccepted(const ConnectionReport& connection) override;
    void ConnectionOpened(const ConnectionReport& connection) override;
    void ConnectionClosed(const ConnectionEnd& end) override;
    void ClientRefused(const PeerAddress& client, RefusalReason reason) override;
    void AcceptFailed(std::error_code error) override;

    MetricsCounts Counts() const;
    // Exposition format 0.0.4: every series with its # HELP and # TYPE, the
    // labelled ones with every label value, zeros included.
    std::string PrometheusText(const TrafficTotals& traffic) const;

  private:
    mutable std::mutex m_lock;
    MetricsCounts m_counts;
};
