#include "peer_result.h"

#include <algorithm>
#include <functional>

namespace bench {
namespace {

std::optional<double> Median(const std::vector<PeerResult>& rounds,
                             const std::function<std::optional<double>(const PeerResult&)>& pick) {
    std::vector<double> values;
    for (const PeerResult& round : rounds) {
        if (const std::optional<double> value = pick(round)) {
            values.push_back(*value);
        }
    }
    if (values.empty()) {
        return std::nullopt;
    }
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

PeerResult MedianOfRounds(const std::vector<PeerResult>& rounds) {
    PeerResult combined;
    if (rounds.empty()) {
        return combined;
    }
    combined.name = rounds.front().name;
    combined.command = rounds.front().command;
    combined.far_command = rounds.front().far_command;
    combined.skipped = rounds.front().skipped;
    for (const PeerResult& round : rounds) {
        if (!round.note.empty()) {
            combined.note = round.note;
            break;
        }
    }
    for (std::optional<double> PeerResult::*figure :
         {&PeerResult::upload, &PeerResult::download, &PeerResult::aggregate,
          &PeerResult::connects_per_second, &PeerResult::idle_connections,
          &PeerResult::idle_kib_per_connection, &PeerResult::idle_threads_before,
          &PeerResult::idle_threads_after}) {
        combined.*figure = Median(rounds, [figure](const PeerResult& r) { return r.*figure; });
    }
    const auto p50 = Median(rounds, [](const PeerResult& r) {
        return r.ping ? std::optional<double>(r.ping->p50_us) : std::nullopt;
    });
    const auto p99 = Median(rounds, [](const PeerResult& r) {
        return r.ping ? std::optional<double>(r.ping->p99_us) : std::nullopt;
    });
    if (p50 && p99) {
        combined.ping = RoundTrips{*p50, *p99};
    }
    return combined;
}

}  // namespace bench
