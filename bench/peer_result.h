// What one relay achieved in one run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "measurements.h"

namespace bench {

struct PeerResult {
    std::string name;
    std::string command;      // as configured, placeholders unfilled
    std::string far_command;  // the far end of a pair, the same way
    bool skipped = false;
    std::string note;  // why skipped, or the first measurement that failed and how
    // Bytes per second.
    std::optional<double> upload;
    std::optional<double> download;
    std::optional<double> aggregate;
    std::optional<RoundTrips> ping;
    std::optional<double> connects_per_second;
    // Idle connections held by a fresh relay process (see idle_connections.h).
    std::optional<double> idle_connections;
    std::optional<double> idle_kib_per_connection;
    std::optional<double> idle_threads_before;
    std::optional<double> idle_threads_after;
};

// One relay's rounds folded into one: each figure the median of the rounds
// that measured it, so one disturbed round on a shared machine does not
// decide the result. The note is the first round's that has one.
PeerResult MedianOfRounds(const std::vector<PeerResult>& rounds);

}  // namespace bench
