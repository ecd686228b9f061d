#include "cli/relay_config.h"

#include "cli/start_settings.h"

std::variant<RelayConfig, ConfigError> LoadRelayConfig(const RelayOptions& options) {
    auto built = BuildStartRequest(options);
    if (const auto* error = std::get_if<StartSettingsError>(&built)) {
        return ConfigError{error->message};
    }
    RelayConfig config;
    config.start = std::get<StartRequest>(built);
    config.engine = options.engine;
    config.statsInterval = std::chrono::seconds(options.stats ? 1 : 0);
    config.configPath = options.configPath;
    return config;
}
