#include "report.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

namespace bench {
namespace {

constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Rate(const std::optional<double>& bytes_per_second) {
    return bytes_per_second ? Format("%.2f", *bytes_per_second / kGiB) : "–";
}

const PeerResult* Find(const std::vector<PeerResult>& results, const std::string& name) {
    for (const PeerResult& result : results) {
        if (result.name == name && !result.skipped) {
            return &result;
        }
    }
    return nullptr;
}

// One column of the table, as the goals compare it.
struct Metric {
    const char* label;
    std::function<std::optional<double>(const PeerResult&)> pick;
    std::function<std::string(double)> show;  // value with its unit
    bool lower_is_better;
};

std::string ShowRate(double bytes_per_second) {
    return Rate(bytes_per_second) + " GiB/s";
}
std::string ShowConnectRate(double rate) {
    return Format("%.0f", rate) + " conn/s";
}
std::string ShowMicros(double micros) {
    return Format("%.1f", micros) + " µs";
}
std::string ShowKiB(double kib) {
    return Format("%.2f", kib) + " KiB";
}

std::string Figure(const char* format, const std::optional<double>& value) {
    return value ? Format(format, *value) : "–";
}

const Metric kUpload{"1 conn up", [](const PeerResult& r) { return r.upload; }, ShowRate, false};
const Metric kDownload{"1 conn down", [](const PeerResult& r) { return r.download; }, ShowRate,
                       false};
const Metric kAggregate{"16 conns", [](const PeerResult& r) { return r.aggregate; }, ShowRate,
                        false};
const Metric kConnectRate{"conn/s", [](const PeerResult& r) { return r.connects_per_second; },
                          ShowConnectRate, false};
const Metric kPingMedian{"ping p50",
                         [](const PeerResult& r) {
                             return r.ping ? std::optional<double>(r.ping->p50_us) : std::nullopt;
                         },
                         ShowMicros, true};
const Metric kIdleMemory{
    "idle KiB/conn", [](const PeerResult& r) { return r.idle_kib_per_connection; }, ShowKiB, true};

// The best value among the named peers that have one; names the winner.
std::optional<double> Best(const std::vector<PeerResult>& results,
                           const std::vector<std::string>& names, const Metric& metric,
                           std::string* winner) {
    std::optional<double> best;
    for (const std::string& name : names) {
        const PeerResult* peer = Find(results, name);
        const std::optional<double> value = peer ? metric.pick(*peer) : std::nullopt;
        if (value && (!best || (metric.lower_is_better ? *value < *best : *value > *best))) {
            best = value;
            *winner = name;
        }
    }
    return best;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) {
        list += (list.empty() ? "" : ", ") + name;
    }
    return list;
}

// Goal: the relay's figure ≥ factor × the best peer's (≤ where lower is better).
void CheckRatio(std::ostream& out, const std::vector<PeerResult>& results, const std::string& relay,
                const Metric& metric, const std::vector<std::string>& peers, double factor) {
    std::string winner;
    const std::optional<double> best = Best(results, peers, metric, &winner);
    const PeerResult* mine = Find(results, relay);
    const std::optional<double> value = mine ? metric.pick(*mine) : std::nullopt;
    out << "| " << relay << " " << metric.label << (metric.lower_is_better ? " ≤ " : " ≥ ")
        << Format("%g", factor) << " × " << (peers.size() > 1 ? "best of " : "") << JoinNames(peers)
        << " | ";
    if (!best || !value || *best <= 0) {
        out << " | not measured |\n";
        return;
    }
    const double ratio = *value / *best;
    const bool met = metric.lower_is_better ? ratio <= factor : ratio >= factor;
    out << Format("%.2f", ratio) << " × " << winner << " (" << metric.show(*value) << " vs "
        << metric.show(*best) << ") | " << (met ? "**met**" : "**not met**") << " |\n";
}

// Goal: at most 3 KiB per idle connection, and no more threads than before.
void CheckIdleHold(std::ostream& out, const std::vector<PeerResult>& results,
                   const std::string& relay) {
    constexpr double kMostKiB = 3.0;
    const PeerResult* mine = Find(results, relay);
    out << "| " << relay << " idle KiB/conn ≤ " << Format("%g", kMostKiB)
        << ", threads do not grow | ";
    if (mine == nullptr || !mine->idle_kib_per_connection || !mine->idle_threads_before ||
        !mine->idle_threads_after) {
        out << " | not measured |\n";
        return;
    }
    const bool met = *mine->idle_kib_per_connection <= kMostKiB &&
                     *mine->idle_threads_after <= *mine->idle_threads_before;
    out << ShowKiB(*mine->idle_kib_per_connection) << " over "
        << Format("%.0f", mine->idle_connections.value_or(0)) << " connections, threads "
        << Format("%.0f", *mine->idle_threads_before) << " → "
        << Format("%.0f", *mine->idle_threads_after) << " | " << (met ? "**met**" : "**not met**")
        << " |\n";
}

}  // namespace

void WriteResultTable(std::ostream& out, const std::vector<PeerResult>& results, int connections) {
    out << "| relay | 1 conn up GiB/s | 1 conn down GiB/s | " << connections
        << " conns GiB/s | ping p50 µs | ping p99 µs | conn/s | idle conns | idle KiB/conn"
           " | threads before → idle | note |\n"
        << "|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|---|\n";
    for (const PeerResult& result : results) {
        WriteResultRow(out, result);
    }
}

void WriteResultRow(std::ostream& out, const PeerResult& r) {
    out << "| " << r.name << " | " << Rate(r.upload) << " | " << Rate(r.download) << " | "
        << Rate(r.aggregate) << " | " << (r.ping ? Format("%.1f", r.ping->p50_us) : "–") << " | "
        << (r.ping ? Format("%.1f", r.ping->p99_us) : "–") << " | "
        << Figure("%.0f", r.connects_per_second) << " | " << Figure("%.0f", r.idle_connections)
        << " | " << Figure("%.2f", r.idle_kib_per_connection) << " | "
        << Figure("%.0f", r.idle_threads_before) << " → " << Figure("%.0f", r.idle_threads_after)
        << " | " << (r.skipped ? "skipped: " : "") << r.note << " |\n";
}

void WriteCommands(std::ostream& out, const std::vector<PeerResult>& results) {
    for (const PeerResult& r : results) {
        out << "- " << r.name << ": "
            << (r.command.empty() ? "no relay, straight to the target" : "`" + r.command + "`")
            << (r.far_command.empty() ? "" : " → `" + r.far_command + "`") << "\n";
    }
}

void WriteGoals(std::ostream& out, const std::vector<PeerResult>& results) {
    const std::vector<std::string> peers = {"socat-b2048", "socat", "rinetd", "haproxy"};
    const std::string events = "vorlane-events";
    out << "| goal | measured | result |\n|---|---|---|\n";
    // A connection costs the event engine no more than the least a relay can do.
    CheckRatio(out, results, events, kConnectRate, {"epoll-floor"}, 0.95);
    CheckRatio(out, results, events, kConnectRate, {"rinetd"}, 1.0);
    for (const Metric* metric : {&kUpload, &kDownload}) {
        CheckRatio(out, results, events, *metric, {"direct"}, 0.55);
    }
    for (const Metric* metric : {&kUpload, &kDownload}) {
        CheckRatio(out, results, "vorlane-events-map", *metric, peers, 1.3);
    }
    CheckRatio(out, results, events, kAggregate, peers, 1.2);
    CheckRatio(out, results, events, kPingMedian, peers, 1.0);
    CheckRatio(out, results, events, kIdleMemory, peers, 1.0);
    CheckIdleHold(out, results, events);
    // The sealed pair against the tools people pick for a pre-shared-key pipe.
    const std::string sealed = "vorlane-pair-sealed";
    for (const Metric* metric : {&kUpload, &kDownload}) {
        CheckRatio(out, results, sealed, *metric, {"spiped"}, 3.0);
        CheckRatio(out, results, sealed, *metric, {"ssh-chacha20"}, 1.5);
    }
    CheckRatio(out, results, sealed, kConnectRate, {"spiped"}, 3.0);
    CheckRatio(out, results, sealed, kPingMedian, {"spiped"}, 1.0);
}

}  // namespace bench
