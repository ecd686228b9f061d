// What a connection takes from the listening run that admitted it. A run's
// settings are fixed once it starts; a reload makes a new one for the clients
// that come after, while every connection keeps the one it began with (its
// target, byte map mode, time-outs and chunk size): a mode changed under a
// live connection would garble its stream.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/ip_address.h"
#include "relay/byte_map.h"
#include "relay/start_request.h"

struct EventRun {
    std::string targetHost;                       // a name, looked up per connection
    std::optional<net::IpAddress> targetLiteral;  // set when the target is an address
    std::uint16_t targetPort = 0;
    EncodeMode mode = EncodeMode::None;
    std::size_t chunkSize = 0;
    std::chrono::milliseconds connectTimeout{0};    // 0: the system's
    std::chrono::milliseconds idleTimeout{0};       // 0: never
    std::chrono::milliseconds firstByteTimeout{0};  // 0: never
    int clientsPerAddress = 0;                      // 0: no cap
};

// The run a request describes; the request has passed its checks.
EventRun RunFor(const StartRequest& request);
