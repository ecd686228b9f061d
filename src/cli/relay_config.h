// PLACEHOLDER until the settings work lands: everything a run of vorlane-relay takes.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <variant>

#include "cli/log_level.h"
#include "cli/relay_options.h"
#include "platform/ip_address.h"
#include "relay/start_request.h"

struct MetricsEndpoint {
    net::IpAddress address;
    std::uint16_t port = 0;
};

struct RelayConfig {
    StartRequest start;
    EngineChoice engine = EngineChoice::Events;
    LogLevel logLevel = LogLevel::Info;
    std::chrono::seconds statsInterval{0};
    std::optional<MetricsEndpoint> metrics;
    std::chrono::milliseconds drainTimeout{std::chrono::seconds(10)};
    std::optional<std::string> configPath;
};

struct ConfigError {
    std::string message;
};

std::variant<RelayConfig, ConfigError> LoadRelayConfig(const RelayOptions& options);
