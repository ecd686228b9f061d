#include "hanging_target.h"

#include <poll.h>

HangingTarget::HangingTarget() {
    listener_ = testing_support::Listen(0, &port_);
    // The first filler fills the queue; later connects get no answer.
    for (int i = 0; i < 2; ++i) {
        fillers_.push_back(testing_support::ConnectNonBlocking(port_));
    }
}

bool HangingTarget::ConnectHangs(std::chrono::milliseconds wait) const {
    const testing_support::TestSocket probe = testing_support::ConnectNonBlocking(port_);
    pollfd answered{probe.fd(), POLLOUT, 0};
    return probe.valid() && ::poll(&answered, 1, static_cast<int>(wait.count())) == 0;
}

testing_support::TestSocket HangingTarget::TakeListener() {
    fillers_.clear();
    return std::move(listener_);
}
