// Pieces shared by the tests that run vorlane-relay as a process: the engine
// each case runs on, a payload that shows a byte lost or mapped, a round trip.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "test_socket.h"

namespace cli_testing {

// What an engine does is tested on each engine behind the command line.
inline const std::vector<std::string> kEngines = {"events", "threads"};

// The arguments with "--engine NAME" in front; none (empty) leaves the choice to the relay.
inline std::vector<std::string> OnEngine(const std::string& engine,
                                         std::vector<std::string> arguments) {
    if (!engine.empty()) {
        arguments.insert(arguments.begin(), {"--engine", engine});
    }
    return arguments;
}

// "events" as "Events", for test names.
inline std::string Titled(std::string engine) {
    if (!engine.empty()) {
        engine[0] = static_cast<char>(engine[0] - 'a' + 'A');
    }
    return engine;
}

inline std::string EveryByteValue(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    }
    return bytes;
}

// What comes back through the relay at this port for the payload.
inline std::string EchoThrough(int port, const std::string& payload) {
    testing_support::TestSocket client = testing_support::Connect(port);
    if (!client.valid() || !client.Send(payload)) {
        return "(no connection)";
    }
    return client.Read(payload.size());
}

}  // namespace cli_testing
