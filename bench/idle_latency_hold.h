// Keeps the CPUs out of sleeping idle states while the benchmark runs.
//
// In a virtual machine an idle CPU halts, and waking it for the next packet
// costs about 100 µs: a ping-pong then measures the hypervisor, not the relay.
// A 0 µs request on /dev/cpu_dma_latency makes idle CPUs poll instead; it
// holds only while the file stays open, so it ends with the process.
#pragma once

#include "socket_util.h"

namespace bench {

class IdleLatencyHold {
  public:
    IdleLatencyHold();  // tries; needs root
    bool held() const { return file_.valid(); }

  private:
    Socket file_;  // any descriptor: closed once
};

}  // namespace bench
