// Everything a listening run takes from its front end, read in one go.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ip_address.h"

struct StartRequest {
    bool encodeClient = false;     // box "Encrypt Client Packet"
    bool encodeServer = false;     // box "Encrypt Server Packet"; Client wins when both are set
    std::string targetText;        // target as typed, before trimming
    int targetPort = 0;            // 1 to 65535; Start refuses others
    int connectionLimit = 0;       // compared with the pump-thread count
    int localPort = 0;             // 0 to 65535 (0: the system picks); Start refuses others
    int backlog = 0;               // the window listens with 0, the headless relay with SOMAXCONN
    net::IpAddress bindAddress;    // address to listen on; unspecified is any (both families
                                   // where the engine can)
    std::size_t chunkSize = 2048;  // bytes per receive; the window always uses 2048
    std::vector<net::IpRange> allowFrom;  // empty admits every client
    // The event engine only: 0 leaves the wait for a target to the system, and
    // keeps a quiet connection for ever.
    std::chrono::milliseconds connectTimeout{0};
    std::chrono::milliseconds idleTimeout{0};
    // The event engine only: 0 keeps a connection on which nothing has moved
    // yet for ever, and admits any number of clients from one address.
    std::chrono::milliseconds firstByteTimeout{0};
    int clientsPerAddress = 0;  // clients (not shares) per IPv4 address or IPv6 /64
};
