// What a relay holds, read from /proc: resident memory and thread count of
// the relay's processes (a pair has two) and every process they forked.
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <vector>

namespace bench {

struct ProcessUsage {
    // Proportional set size: a forked child's pages shared with its parent
    // count once in the sum, not once per process. For one process its
    // growth is the growth of its resident set.
    uint64_t pss_kib = 0;
    int threads = 0;
    int processes = 0;
};

// Sums over the processes of these process groups and their descendants,
// even those that left the group (sshd's per-connection processes start
// sessions of their own); zero when none runs.
ProcessUsage ReadGroupUsage(const std::vector<pid_t>& groups);

}  // namespace bench
