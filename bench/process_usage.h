// What a relay holds, read from /proc: resident memory and thread count of
// the relay process and every process it forked (they share its group).
#pragma once

#include <sys/types.h>
#include <cstdint>

namespace bench {

struct ProcessUsage {
    // Proportional set size: a forked child's pages shared with its parent
    // count once in the sum, not once per process. For one process its
    // growth is the growth of its resident set.
    uint64_t pss_kib = 0;
    int threads = 0;
    int processes = 0;
};

// Sums over the processes whose process group is group; zero when none runs.
ProcessUsage ReadGroupUsage(pid_t group);

}  // namespace bench
