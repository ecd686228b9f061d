// The values of the settings table that a listening run takes, typed. Each
// front end fills them its own way (the window from its fields, the headless
// relay from its command line and config file); MakeStartRequest turns them
// into the engine's request, so both front ends start runs alike.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/ip_address.h"
#include "relay/start_request.h"

struct RelaySettings {
    int localPort = 0;        // LocalListenPort
    int connectionLimit = 0;  // ConnectionLimit, in relay shares (two per client)
    std::string targetText;   // DestAddr as typed
    int targetPort = 0;       // DestPort
    bool encodeClient = false;
    bool encodeServer = false;
    net::IpAddress bindAddress;                // BindAddr; unspecified: every address
    std::vector<net::IpRange> allowFrom;       // AllowFrom; empty admits every client
    std::optional<std::size_t> bufferSize;     // Buffer; not set: the front end's chunk size
    std::chrono::seconds connectTimeout{0};    // ConnectTimeout; 0: the system's wait
    std::chrono::seconds idleTimeout{0};       // IdleTimeout; 0: never
    std::chrono::seconds firstByteTimeout{0};  // FirstByteTimeout; 0: never
    int clientsPerAddress = 0;                 // ClientsPerAddress; 0: no cap
};

// What a front end fixes for its runs, whatever the settings say.
struct ListenFixed {
    int backlog = 0;
    std::size_t chunkSize = 0;  // bytes per receive when Buffer is not set
};

StartRequest MakeStartRequest(const RelaySettings& settings, const ListenFixed& fixed);
