// What /proc tells about a running process: descriptors, threads, resident
// memory and CPU time.
#pragma once

#include <sys/types.h>

struct ProcessSnapshot {
    int descriptors = -1;
    int threads = -1;
    long residentKiB = -1;
    double cpuSeconds = -1;  // user plus system time so far
};

ProcessSnapshot ReadProcess(pid_t pid);
