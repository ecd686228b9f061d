#include "server/config/relay_config.h"

#include <utility>

#include "relay/relay_settings.h"
#include "server/config/config_file_rules.h"
#include "server/config/listen_backlog.h"
#include "settings/ini_document.h"
#include "settings/newline_marker.h"
#include "settings/profile_file.h"
#include "settings/setting_keys.h"

namespace {

// The [Vorlane] section of the config file; with no file, every key is missing.
class ConfigSection {
  public:
    explicit ConfigSection(IniDocument document) : document_(std::move(document)) {}

    // The value as the relay reads it: a text as the window's field would
    // show it after a load, any other value whole (a range list cut short
    // could widen a range), a missing key as its default.
    std::string Value(const SettingRow& row) const {
        if (row.kind == SettingKind::Text) {
            return NewlineMarkersToCrLf(ProfileValue(document_, kSettingsSection, row.key,
                                                     row.defaultValue, kSettingValueBufferSize));
        }
        return document_.Find(kSettingsSection, row.key).value_or(row.defaultValue);
    }
    std::string Value(Setting setting) const { return Value(RowOf(setting)); }

    // A checked value through its checker; nothing when it is left empty.
    template <class Check>
    auto Read(Setting setting, Check check) const -> decltype(check(std::string_view())) {
        const std::string text = Value(setting);
        if (text.empty()) {
            return std::nullopt;
        }
        return check(text);
    }

  private:
    IniDocument document_;
};

// "FILE: Key=value is not <expected>".
ConfigError BadFileValue(const std::string& path, const char* key, const std::string& value,
                         const char* expected) {
    std::string message = path;
    message += ": ";
    message += key;
    message += '=';
    message += value;
    message += " is not ";
    message += expected;
    return ConfigError{message};
}

// A key whose default is empty may be left empty: it is then not set.
bool MayBeEmpty(const SettingRow& row) {
    return row.defaultValue[0] == '\0';
}

std::optional<ConfigError> CheckFile(const ConfigSection& section, const std::string& path) {
    for (const SettingRow& row : kSettings) {
        const std::string value = section.Value(row);
        if (value.empty() && MayBeEmpty(row)) {
            continue;
        }
        if (!IsValueOf(row.kind, value)) {
            return BadFileValue(path, row.key, value, ExpectedValue(row.kind));
        }
    }
    return std::nullopt;
}

// The file's values, already checked; the command line's where it gives them.
RelaySettings MergeSettings(const RelayOptions& options, const ConfigSection& file) {
    RelaySettings settings;
    settings.localPort =
        options.listenPort.value_or(file.Read(Setting::LocalListenPort, CheckPort).value_or(0));
    settings.connectionLimit =
        options.limit.value_or(file.Read(Setting::ConnectionLimit, CheckLimit).value_or(0));
    settings.targetText = options.target.value_or(file.Value(Setting::DestAddr));
    settings.targetPort =
        options.targetPort.value_or(file.Read(Setting::DestPort, CheckTargetPort).value_or(0));
    if (options.encode) {
        settings.encodeClient = *options.encode == EncodeChoice::Client;
        settings.encodeServer = *options.encode == EncodeChoice::Server;
    } else {
        settings.encodeClient = file.Read(Setting::EncodeClient, CheckBox).value_or(false);
        settings.encodeServer = file.Read(Setting::EncodeServer, CheckBox).value_or(false);
    }
    settings.bindAddress = options.bindAddress.value_or(
        file.Read(Setting::BindAddr, CheckAddress).value_or(net::IpAddress()));
    settings.allowFrom = options.allowFrom.value_or(
        file.Read(Setting::AllowFrom, CheckRangeList).value_or(std::vector<net::IpRange>()));
    settings.bufferSize =
        options.chunkSize ? options.chunkSize : file.Read(Setting::Buffer, CheckBuffer);
    settings.connectTimeout = options.connectTimeout.value_or(
        file.Read(Setting::ConnectTimeout, CheckSeconds).value_or(std::chrono::seconds(0)));
    settings.idleTimeout = options.idleTimeout.value_or(
        file.Read(Setting::IdleTimeout, CheckSeconds).value_or(std::chrono::seconds(0)));
    settings.firstByteTimeout = options.firstByteTimeout.value_or(
        file.Read(Setting::FirstByteTimeout, CheckSeconds).value_or(std::chrono::seconds(0)));
    settings.clientsPerAddress = options.clientsPerAddress.value_or(
        file.Read(Setting::ClientsPerAddress, CheckLimit).value_or(0));
    return settings;
}

// The threaded engine listens on IPv4 alone.
std::optional<ConfigError> CheckBindFamily(const RelayOptions& options, const RelayConfig& config,
                                           const std::string& path) {
    const net::IpAddress& address = config.start.bindAddress;
    if (config.engine != EngineChoice::Threads || address.IsV4()) {
        return std::nullopt;
    }
    const std::string text = address.ToString();
    const char* expected = "an IPv4 address (the threads engine has no IPv6)";
    if (options.bindAddress) {
        return ConfigError{"--bind: '" + text + "' is not " + expected};
    }
    return BadFileValue(path, RowOf(Setting::BindAddr).key, text, expected);
}

}  // namespace

std::variant<RelayConfig, ConfigError> LoadRelayConfig(const RelayOptions& options) {
    std::string bytes;
    if (options.configPath) {
        std::optional<std::string> read = ReadFileBytes(*options.configPath);
        if (!read) {
            return ConfigError{"--config: cannot read '" + *options.configPath + "'"};
        }
        bytes = std::move(*read);
    }
    return ResolveRelayConfig(options, bytes);
}

std::variant<RelayConfig, ConfigError> ResolveRelayConfig(const RelayOptions& options,
                                                          std::string_view fileBytes) {
    IniDocument document = IniDocument::Parse(fileBytes);
    const std::string path = options.configPath.value_or("");
    if (options.configPath) {
        if (auto fault = FindConfigFileFault(document)) {
            return ConfigError{path + ": " + *fault};
        }
    }
    const ConfigSection file(std::move(document));
    if (auto error = CheckFile(file, path)) {
        return *error;
    }

    RelayConfig config;
    config.configPath = options.configPath;
    config.engine =
        options.engine.value_or(file.Read(Setting::Engine, CheckEngine).value_or(EngineChoice{}));
    const ListenFixed fixed{HeadlessListenBacklog(), config.engine == EngineChoice::Events
                                                         ? kEventsChunkSize
                                                         : kThreadsChunkSize};
    config.start = MakeStartRequest(MergeSettings(options, file), fixed);
    if (auto error = CheckBindFamily(options, config, path)) {
        return *error;
    }
    config.logLevel = options.logLevel.value_or(
        file.Read(Setting::LogLevel, CheckLogLevel).value_or(LogLevel::Info));
    config.statsInterval = options.statsInterval.value_or(
        file.Read(Setting::Stats, CheckSeconds).value_or(std::chrono::seconds(0)));
    config.metrics = options.metrics ? options.metrics : file.Read(Setting::Metrics, CheckEndpoint);
    config.drainTimeout = options.drainTimeout.value_or(
        file.Read(Setting::DrainTimeout, CheckDrainSeconds).value_or(std::chrono::seconds(0)));
    return config;
}
