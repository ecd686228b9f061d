// The command line of vorlane-relay, checked value by value. What is not
// given here comes from the config file or the defaults (see start_settings.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "relay/start_request.h"

enum class EncodeChoice { None, Client, Server };

struct RelayOptions {
    std::optional<std::string> configPath;
    std::optional<int> listenPort;
    std::optional<std::string> target;
    std::optional<int> targetPort;
    std::optional<int> limit;
    std::optional<EncodeChoice> encode;
    std::size_t chunkSize = 2048;
    bool stats = false;
    std::optional<std::uint32_t> bindAddr;             // host order
    std::optional<std::vector<AllowRange>> allowFrom;  // set once --allow is given
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
