// The four client-side measurements, each through whatever listens on a port
// in front of a TargetServer. Each throws std::runtime_error when the relay
// corrupts, loses or stalls the traffic.
#pragma once

#include <chrono>
#include <cstdint>

namespace bench {

// Bytes per second for one connection sending count bytes to the target; the
// clock stops when the target reports every byte checked.
double MeasureUpload(uint16_t port, uint64_t count);

// Bytes per second for one connection receiving count bytes from the target,
// each checked on arrival.
double MeasureDownload(uint16_t port, uint64_t count);

// Bytes per second over all connections together, half of them uploading and
// half downloading, total bytes split evenly.
double MeasureAggregate(uint16_t port, uint64_t total, int connections);

struct RoundTrips {
    double p50_us = 0;
    double p99_us = 0;
};

// Round trips of a 64-byte message on one connection.
RoundTrips MeasurePingPong(uint16_t port, int round_trips);

// Connections opened, one byte echoed and closed, one after another, until the
// time or the count runs out; per second.
double MeasureConnectRate(uint16_t port, std::chrono::milliseconds duration, int max_connections);

}  // namespace bench
