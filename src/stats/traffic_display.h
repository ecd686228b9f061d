// What the traffic counters need from whoever shows them.
#pragma once

#include <cstdint>

enum class TrafficDirection {
    ClientToServer,  // bytes received from clients, sent to the target
    ServerToClient,  // bytes received from the target, sent to clients
};

class TrafficDisplay {
public:
    virtual ~TrafficDisplay() = default;
    // Shows a direction's new total. Called by pump threads with the traffic
    // lock held; returns once the total is shown.
    virtual void ShowTrafficTotal(TrafficDirection direction, std::int64_t total) = 0;
};
