// What a connection takes from the listening run that admitted it. A run's
// settings are fixed once it starts; a connection keeps the run it began with
// (its target, time-outs and chunk size) while the byte map's mode is read
// afresh for every chunk, as the threaded engine does.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/ip_address.h"

struct EventRun {
    std::string targetHost;                       // a name, looked up per connection
    std::optional<net::IpAddress> targetLiteral;  // set when the target is an address
    std::uint16_t targetPort = 0;
    std::size_t chunkSize = 0;
    std::chrono::milliseconds connectTimeout{0};  // 0: the system's
    std::chrono::milliseconds idleTimeout{0};     // 0: never
};
