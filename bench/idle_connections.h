// How much a relay holds per idle connection: open many connections through
// it, each checked end to end with one echoed byte and then left idle, and
// read the relay's memory and threads from /proc before and after (all of
// its processes: both ends of a pair).
#pragma once

#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "process_usage.h"

namespace bench {

struct IdleHold {
    int connections = 0;  // open at once when `after` was read
    ProcessUsage before;
    ProcessUsage after;
    std::string shortfall;  // why fewer than asked were opened, if they were

    double KiBPerConnection() const;
};

// Opens up to `connections`, one after another, until the budget runs out;
// the clients stay in this process, the target is another (descriptors).
// Throws when the relay stops relaying before any connection is open.
IdleHold MeasureIdle(uint16_t port, int connections, bool byte_map,
                     const std::vector<pid_t>& relay_groups, std::chrono::seconds budget);

}  // namespace bench
