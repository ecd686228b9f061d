// The client-side measurements, each through whatever listens on a port
// in front of a TargetServer. Each throws std::runtime_error when the relay
// corrupts, loses or stalls the traffic. byte_map: the relay puts every byte
// through the byte map, so the client sends and expects mapped bytes.
#pragma once

#include <chrono>
#include <cstdint>

#include "socket_util.h"

namespace bench {

// Opens a connection for the target's echo job and checks the first byte
// comes back: on return the relay has connected to the target.
Socket OpenEcho(uint16_t port, bool byte_map);

// Bytes per second for one connection sending count bytes to the target; the
// clock stops when the target reports every byte checked.
double MeasureUpload(uint16_t port, uint64_t count, bool byte_map);

// Bytes per second for one connection receiving count bytes from the target,
// each checked on arrival.
double MeasureDownload(uint16_t port, uint64_t count, bool byte_map);

// Bytes per second over all connections together, half of them uploading and
// half downloading, total bytes split evenly.
double MeasureAggregate(uint16_t port, uint64_t total, int connections, bool byte_map);

struct RoundTrips {
    double p50_us = 0;
    double p99_us = 0;
};

// Round trips of a 64-byte message on one connection.
RoundTrips MeasurePingPong(uint16_t port, int round_trips, bool byte_map);

// Connections opened, one byte echoed and closed, one after another, until the
// time or the count runs out; per second.
double MeasureConnectRate(uint16_t port, std::chrono::milliseconds duration, int max_connections,
                          bool byte_map);

}  // namespace bench
