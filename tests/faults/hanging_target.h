// A loopback target whose accept queue is full and never drained: the kernel
// drops further handshakes, so a connect to it stays unanswered until the
// test hands the listener on to something that accepts.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "test_socket.h"

class HangingTarget {
  public:
    HangingTarget();

    std::uint16_t port() const { return port_; }
    // True when a fresh connect gets no answer for this long.
    bool ConnectHangs(std::chrono::milliseconds wait) const;
    // The listener, for a target that accepts from now on. The fillers close
    // first, so no handshake of theirs competes for the queue; the one
    // already queued waits there to be accepted.
    testing_support::TestSocket TakeListener();

  private:
    testing_support::TestSocket listener_;
    std::uint16_t port_ = 0;
    std::vector<testing_support::TestSocket> fillers_;
};
