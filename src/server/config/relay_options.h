// The command line of vorlane-relay, checked value by value. What is not
// given here comes from the config file or the defaults (see relay_config.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/ip_address.h"
#include "server/config/setting_values.h"
#include "server/logging/log_level.h"

struct RelayOptions {
    std::optional<std::string> configPath;
    bool checkConfig = false;  // print the resolved settings and exit
    std::optional<int> listenPort;
    std::optional<std::string> target;
    std::optional<int> targetPort;
    std::optional<int> limit;
    std::optional<EncodeChoice> encode;
    std::optional<std::size_t> chunkSize;
    std::optional<net::IpAddress> bindAddress;
    std::optional<std::vector<net::IpRange>> allowFrom;  // set once --allow is given
    std::optional<EngineChoice> engine;
    std::optional<std::chrono::seconds> connectTimeout;
    std::optional<std::chrono::seconds> idleTimeout;
    std::optional<std::chrono::seconds> firstByteTimeout;
    std::optional<int> clientsPerAddress;
    std::optional<std::chrono::seconds> drainTimeout;
    std::optional<LogLevel> logLevel;                   // --quiet gives Error
    std::optional<std::chrono::seconds> statsInterval;  // a bare --stats gives 1 s
    std::optional<MetricsEndpoint> metrics;
};

// Either options to run with, or an exit code: 0 after --help or --version, 2 after a
// malformed option, whose one-line error is already on stderr.
struct ParsedCommandLine {
    std::optional<RelayOptions> options;
    int exitCode = 0;
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// Prints "vorlane-relay: <message>" as one line on stderr, control characters
// and invalid bytes escaped (see printable_text.h).
void PrintUsageError(const std::string& message);
