// Everything a vorlane-relay run is configured with: each value from the
// command line, else the config file's [Vorlane] section, else the settings
// table's defaults.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "relay/start_request.h"
#include "server/config/relay_options.h"
#include "server/config/setting_values.h"
#include "server/logging/log_level.h"

// Bytes per receive when Buffer is not set: what measured best for each
// engine (the threaded engine keeps the window's chunk).
inline constexpr std::size_t kEventsChunkSize = 262144;
inline constexpr std::size_t kThreadsChunkSize = kClassicChunkSize;

struct RelayConfig {
    StartRequest start;
    EngineChoice engine = EngineChoice::Events;
    LogLevel logLevel = LogLevel::Info;
    std::chrono::seconds statsInterval{0};  // 0: no statistics lines
    std::optional<MetricsEndpoint> metrics;
    std::chrono::milliseconds drainTimeout{0};
    std::optional<std::string> configPath;  // the file read, if any
};

struct ConfigError {
    std::string message;  // one line naming the option, or the file, key and value
};

// Reads the config file anew on every call. The file must keep the rules of
// config_file_rules.h (one [Vorlane] section of known keys, each once), and
// every key of the file is checked,
// even one the command line overrides: a number must be decimal digits in its
// range (an empty one too), a box 0 or 1, a name one of its kind's; BindAddr,
// AllowFrom, Buffer and Metrics may be empty for "not set". DestAddr is taken
// as the window reads its field (markers become line breaks, at most 255
// characters); AllowFrom is read whole.
std::variant<RelayConfig, ConfigError> LoadRelayConfig(const RelayOptions& options);

// The same on bytes already read: those of the file options.configPath
// names, or none when it names none.
std::variant<RelayConfig, ConfigError> ResolveRelayConfig(const RelayOptions& options,
                                                          std::string_view fileBytes);
