// The command line of vorlane-relay, checked value by value. What is not
// given here comes from the config file or the defaults (see start_settings.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "relay/start_request.h"

enum class EncodeChoice { None, Client, Server };

// Which engine carries the relay: events (the default: a few threads for all
// clients, IPv6, time-outs) or threads (two threads per client, IPv4 only, as
// the window runs).
enum class EngineChoice { Events, Threads };

struct RelayOptions {
    std::optional<std::string> configPath;
    std::optional<int> listenPort;
    std::optional<std::string> target;
    std::optional<int> targetPort;
    std::optional<int> limit;
    std::optional<EncodeChoice> encode;
    std::optional<std::size_t> chunkSize;  // else the engine's own
    bool stats = false;
    std::optional<net::IpAddress> bindAddress;
    std::optional<std::vector<net::IpRange>> allowFrom;  // set once --allow is given
    EngineChoice engine = EngineChoice::Events;
    std::chrono::milliseconds connectTimeout{std::chrono::seconds(10)};
    std::chrono::milliseconds idleTimeout{0};  // 0: never
};

// Either options to run with, or an exit code: 0 after --help or --version, 2 after a
// malformed option, whose one-line error is already on stderr.
struct ParsedCommandLine {
    std::optional<RelayOptions> options;
    int exitCode = 0;
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// Prints "vorlane-relay: <message>" as one line on stderr.
void PrintUsageError(const std::string& message);
