#include "server/metrics/relay_metrics.h"

#include <cstddef>

#include "vorlane_version.h"

namespace {

constexpr std::array<CloseReason, kCloseReasonCount> kCloseReasons = {
    CloseReason::ClientClosed,    CloseReason::TargetClosed,   CloseReason::Reset,
    CloseReason::IdleTimeout,     CloseReason::ConnectTimeout, CloseReason::ConnectFailed,
    CloseReason::LookupFailed,    CloseReason::Stopped,        CloseReason::FirstByteTimeout,
    CloseReason::HandshakeFailed, CloseReason::BadMessage,
};
constexpr std::array<RefusalReason, kRefusalReasonCount> kRefusalReasons = {
    RefusalReason::LimitReached,
    RefusalReason::NotAllowed,
    RefusalReason::AddressLimit,
};
static_assert(static_cast<std::size_t>(CloseReason::BadMessage) + 1 == kCloseReasonCount,
              "a new CloseReason needs its place in kCloseReasons");
static_assert(static_cast<std::size_t>(RefusalReason::AddressLimit) + 1 == kRefusalReasonCount,
              "a new RefusalReason needs its place in kRefusalReasons");

// Appends the # HELP and # TYPE lines of one metric.
void Describe(std::string& text, const char* name, const char* type, const char* help) {
    text += "# HELP ";
    text += name;
    text += ' ';
    text += help;
    text += "\n# TYPE ";
    text += name;
    text += ' ';
    text += type;
    text += '\n';
}

// Appends one sample; labels are `key="value"` text or empty.
void Sample(std::string& text, const char* name, const std::string& labels, std::int64_t value) {
    text += name;
    if (!labels.empty()) {
        text += '{' + labels + '}';
    }
    text += ' ' + std::to_string(value) + '\n';
}

void Single(std::string& text, const char* name, const char* type, const char* help,
            std::int64_t value) {
    Describe(text, name, type, help);
    Sample(text, name, "", value);
}

std::string ReasonLabel(const char* reason) {
    return std::string("reason=\"") + reason + '"';
}

}  // namespace

std::int64_t MetricsCounts::RefusedTotal() const {
    std::int64_t total = 0;
    for (const std::int64_t count : refused) {
        total += count;
    }
    return total;
}

void RelayMetrics::Listening(const ListenStarted& /*started*/) {
    const std::lock_guard<std::mutex> hold(m_lock);
    m_counts.listening = true;
}

void RelayMetrics::StartFailed(const StartFailure& /*failure*/) {
    const std::lock_guard<std::mutex> hold(m_lock);
    m_counts.listening = false;
}

void RelayMetrics::TargetUnresolved(const std::string& /*host*/, std::error_code /*error*/) {}

void RelayMetrics::RunStateChanged(RunState state) {
    const std::lock_guard<std::mutex> hold(m_lock);
    m_counts.listening = state == RunState::Listening;
}

void RelayMetrics::ConnectionAccepted(const ConnectionReport& /*connection*/) {
    const std::lock_guard<std::mutex> hold(m_lock);
    ++m_counts.accepted;
    ++m_counts.open;
}

void RelayMetrics::ConnectionOpened(const ConnectionReport& /*connection*/) {}

void RelayMetrics::ConnectionClosed(const ConnectionEnd& end) {
    const std::lock_guard<std::mutex> hold(m_lock);
    --m_counts.open;
    ++m_counts.closed.at(static_cast<std::size_t>(end.reason));
    if (end.reason == CloseReason::ConnectFailed || end.reason == CloseReason::ConnectTimeout) {
        ++m_counts.connectFailures;
    } else if (end.reason == CloseReason::LookupFailed) {
        ++m_counts.lookupFailures;
    }
}

void RelayMetrics::ClientRefused(const PeerAddress& /*client*/, RefusalReason reason) {
    const std::lock_guard<std::mutex> hold(m_lock);
    ++m_counts.refused.at(static_cast<std::size_t>(reason));
}

void RelayMetrics::AcceptFailed(std::error_code /*error*/) {
    const std::lock_guard<std::mutex> hold(m_lock);
    ++m_counts.acceptErrors;
}

MetricsCounts RelayMetrics::Counts() const {
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_counts;
}

std::string RelayMetrics::PrometheusText(const TrafficTotals& traffic) const {
    const MetricsCounts counts = Counts();
    std::string text;
    Single(text, "vorlane_connections_open", "gauge", "Clients accepted and not yet closed.",
           counts.open);
    Single(text, "vorlane_connections_accepted_total", "counter", "Clients accepted.",
           counts.accepted);

    Describe(text, "vorlane_clients_refused_total", "counter",
             "Clients closed at once, by reason.");
    for (const RefusalReason reason : kRefusalReasons) {
        Sample(text, "vorlane_clients_refused_total", ReasonLabel(RefusalReasonName(reason)),
               counts.refused.at(static_cast<std::size_t>(reason)));
    }
    Describe(text, "vorlane_connections_closed_total", "counter",
             "Accepted connections ended, by reason.");
    for (const CloseReason reason : kCloseReasons) {
        Sample(text, "vorlane_connections_closed_total", ReasonLabel(CloseReasonName(reason)),
               counts.closed.at(static_cast<std::size_t>(reason)));
    }

    Describe(text, "vorlane_bytes_total", "counter",
             "Bytes relayed: up is client to target, down is target to client.");
    Sample(text, "vorlane_bytes_total", "direction=\"up\"", traffic.bytesUp);
    Sample(text, "vorlane_bytes_total", "direction=\"down\"", traffic.bytesDown);

    Single(text, "vorlane_connect_failures_total", "counter",
           "Connections whose target refused, failed or timed out.", counts.connectFailures);
    Single(text, "vorlane_lookup_failures_total", "counter",
           "Connections whose target name did not resolve.", counts.lookupFailures);
    Single(text, "vorlane_accept_errors_total", "counter", "Failed accepts on the listener.",
           counts.acceptErrors);
    Single(text, "vorlane_relay_shares", "gauge",
           "Relay shares taken: one per open direction of a client, as the limit counts.",
           traffic.relayShares);
    Single(text, "vorlane_listening", "gauge", "1 while the relay accepts clients.",
           counts.listening ? 1 : 0);
    Single(text, "vorlane_log_lines_dropped_total", "counter",
           "Log lines dropped because the log could not keep up.", traffic.logLinesDropped);

    Describe(text, "vorlane_build_info", "gauge", "The relay's version.");
    Sample(text, "vorlane_build_info", "version=\"" VORLANE_VERSION_TEXT "\"", 1);
    return text;
}
