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

using Metric = std::function<std::optional<double>(const PeerResult&)>;

std::optional<double> Upload(const PeerResult& r) {
    return r.upload;
}
std::optional<double> Download(const PeerResult& r) {
    return r.download;
}
std::optional<double> ConnectRate(const PeerResult& r) {
    return r.connects_per_second;
}
std::optional<double> PingMedian(const PeerResult& r) {
    return r.ping ? std::optional<double>(r.ping->p50_us) : std::nullopt;
}

// The best of the named peers that have the metric: the largest, or with
// lower_is_better the smallest. Names the winner.
std::optional<double> Best(const std::vector<PeerResult>& results,
                           const std::vector<std::string>& names, const Metric& metric,
                           bool lower_is_better, std::string* winner) {
    std::optional<double> best;
    for (const std::string& name : names) {
        const PeerResult* peer = Find(results, name);
        const std::optional<double> value = peer ? metric(*peer) : std::nullopt;
        if (value && (!best || (lower_is_better ? *value < *best : *value > *best))) {
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

void WriteGoalRow(std::ostream& out, const std::string& goal, const std::string& measured,
                  std::optional<bool> met) {
    out << "| " << goal << " | " << measured << " | "
        << (met ? (*met ? "**met**" : "**not met**") : "not measured") << " |\n";
}

// Goal: relay's metric ≥ factor × the best of the peers (or ≤ for latency).
void CheckRatio(std::ostream& out, const std::vector<PeerResult>& results, const std::string& relay,
                const std::string& what, const Metric& metric,
                const std::vector<std::string>& peers, double factor, bool lower_is_better) {
    std::string winner;
    const std::optional<double> best = Best(results, peers, metric, lower_is_better, &winner);
    const PeerResult* mine = Find(results, relay);
    const std::optional<double> value = mine ? metric(*mine) : std::nullopt;
    const std::string goal = relay + " " + what + (lower_is_better ? " ≤ " : " ≥ ") +
                             Format("%.1f", factor) + " × " + (peers.size() > 1 ? "best of " : "") +
                             JoinNames(peers);
    if (!best || !value || *best <= 0) {
        WriteGoalRow(out, goal, "", std::nullopt);
        return;
    }
    const double ratio = *value / *best;
    const bool met = lower_is_better ? ratio <= factor : ratio >= factor;
    WriteGoalRow(out, goal,
                 Format("%.2f", ratio) + " × " + winner + " (" + Format("%.4g", *value) + " vs " +
                     Format("%.4g", *best) + ")",
                 met);
}

}  // namespace

void WriteResultTable(std::ostream& out, const std::vector<PeerResult>& results, int connections) {
    out << "| relay | 1 conn up GiB/s | 1 conn down GiB/s | " << connections
        << " conns GiB/s | ping p50 µs | ping p99 µs | conn/s | note |\n"
        << "|---|--:|--:|--:|--:|--:|--:|---|\n";
    for (const PeerResult& r : results) {
        out << "| " << r.name << " | " << Rate(r.upload) << " | " << Rate(r.download) << " | "
            << Rate(r.aggregate) << " | " << (r.ping ? Format("%.1f", r.ping->p50_us) : "–")
            << " | " << (r.ping ? Format("%.1f", r.ping->p99_us) : "–") << " | "
            << (r.connects_per_second ? Format("%.0f", *r.connects_per_second) : "–") << " | "
            << (r.skipped ? "skipped: " : "") << r.note << " |\n";
    }
}

void WriteCommands(std::ostream& out, const std::vector<PeerResult>& results) {
    for (const PeerResult& r : results) {
        out << "- " << r.name << ": "
            << (r.command.empty() ? "no relay, straight to the target" : "`" + r.command + "`")
            << "\n";
    }
}

void WriteGoals(std::ostream& out, const std::vector<PeerResult>& results) {
    const std::vector<std::string> peers = {"socat-b2048", "socat", "rinetd", "haproxy"};
    out << "| goal | measured | result |\n|---|---|---|\n";
    for (const auto& [what, metric] :
         {std::pair<std::string, Metric>{"1 conn up", Upload}, {"1 conn down", Download}}) {
        CheckRatio(out, results, "vorlane-relay", what, metric, {"socat-b2048"}, 1.2, false);
        CheckRatio(out, results, "vorlane-relay-64k", what, metric, {"rinetd", "haproxy"}, 1.0,
                   false);
        CheckRatio(out, results, "vorlane-relay-64k", what, metric, {"direct"}, 0.6, false);
    }
    for (const std::string relay : {"vorlane-relay", "vorlane-relay-64k"}) {
        CheckRatio(out, results, relay, "conn/s", ConnectRate, {"haproxy"}, 1.2, false);
        CheckRatio(out, results, relay, "ping p50", PingMedian, peers, 1.0, true);
    }
}

}  // namespace bench
