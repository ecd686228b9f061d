#include "server/config/relay_config.h"

#include <utility>
#include <variant>

#include "seal/link_key.h"
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

  private:
    IniDocument document_;
};

// "FILE: Key=value is not <expected>".
ConfigError BadFileValue(const std::string& path, const char* key, const std::string& value,
                         const std::string& expected) {
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

// "WHERE: the link key is ...": the key's text stays out of the message,
// which goes to a log others may read.
std::optional<ConfigError> CheckLinkKey(std::string_view text, const std::string& where) {
    auto parsed = seal::ParseLinkKey(text);
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        return ConfigError{where + ": " + *problem};
    }
    return std::nullopt;
}

std::optional<ConfigError> CheckFile(const ConfigSection& section, const std::string& path) {
    for (const SettingRow& row : kSettings) {
        const std::string value = section.Value(row);
        if (value.empty() && MayBeEmpty(row)) {
            continue;
        }
        if (row.kind == SettingKind::LinkKey) {
            if (auto error = CheckLinkKey(value, path + ": " + row.key)) {
                return error;
            }
            continue;
        }
        if (!IsValueOf(row, value)) {
            return BadFileValue(path, row.key, value, ExpectedValue(row));
        }
    }
    return std::nullopt;
}

// Each key's text: the command line's where it gives one, else the file's.
// Both are checked by now.
class SettingTexts {
  public:
    SettingTexts(const RelayOptions& options, const ConfigSection& file)
        : options_(options), file_(file) {}

    std::string Text(Setting setting) const {
        return options_.Given(setting).value_or(file_.Value(RowOf(setting)));
    }
    std::int64_t Number(Setting setting) const {
        return CheckNumber(RowOf(setting), Text(setting)).value_or(0);
    }

  private:
    const RelayOptions& options_;
    const ConfigSection& file_;
};

// Sets one field of the run from its key's checked text.
struct FieldReader {
    const SettingRow& row;
    const std::string& text;
    StartRequest& run;

    void operator()(int StartRequest::*field) const {
        run.*field = static_cast<int>(CheckNumber(row, text).value_or(0));
    }
    void operator()(std::size_t StartRequest::*field) const {
        run.*field = static_cast<std::size_t>(CheckNumber(row, text).value_or(0));
    }
    void operator()(std::string StartRequest::*field) const { run.*field = text; }
    void operator()(std::chrono::milliseconds StartRequest::*field) const {
        run.*field = std::chrono::seconds(CheckNumber(row, text).value_or(0));
    }
    void operator()(net::IpAddress StartRequest::*field) const {
        run.*field = CheckAddress(text).value_or(net::IpAddress());
    }
    void operator()(std::vector<net::IpRange> StartRequest::*field) const {
        run.*field = CheckRangeList(text).value_or(std::vector<net::IpRange>());
    }
};

// An empty text (a key that may be empty) leaves the field as it was: the
// chunk size the engine's, the bind address every address.
StartRequest ReadRun(const SettingTexts& texts, EngineChoice engine) {
    StartRequest run;
    run.backlog = HeadlessListenBacklog();
    run.chunkSize = engine == EngineChoice::Events ? kEventsChunkSize : kThreadsChunkSize;
    run.encode = ChooseEncodeMode(CheckBox(texts.Text(Setting::EncodeClient)).value_or(false),
                                  CheckBox(texts.Text(Setting::EncodeServer)).value_or(false));
    for (const RunFieldKey& key : kRunFields) {
        const std::string text = texts.Text(key.setting);
        if (!text.empty()) {
            std::visit(FieldReader{RowOf(key.setting), text, run}, key.field);
        }
    }
    return run;
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
    const SettingRow& row = RowOf(Setting::BindAddr);
    if (options.Given(Setting::BindAddr)) {
        return ConfigError{std::string(row.option) + ": '" + text + "' is not " + expected};
    }
    return BadFileValue(path, row.key, text, expected);
}

// Checked by now; empty is no key.
std::optional<seal::LinkKey> ReadLinkKey(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    auto parsed = seal::ParseLinkKey(text);
    if (auto* key = std::get_if<seal::LinkKey>(&parsed)) {
        return *key;
    }
    return std::nullopt;
}

// The key file's text: the key alone, one line break after it allowed.
std::string_view KeyFileText(std::string_view bytes) {
    if (!bytes.empty() && bytes.back() == '\n') {
        bytes.remove_suffix(1);
        if (!bytes.empty() && bytes.back() == '\r') {
            bytes.remove_suffix(1);
        }
    }
    return bytes;
}

std::optional<ConfigError> ReadKeyFile(const std::string& path, RelayConfig& config) {
    std::optional<std::string> bytes = ReadFileBytes(path);
    if (!bytes) {
        return ConfigError{"--key-file: cannot read '" + path + "'"};
    }
    auto parsed = seal::ParseLinkKey(KeyFileText(*bytes));
    seal::Wipe(bytes->data(), bytes->size());
    if (auto* key = std::get_if<seal::LinkKey>(&parsed)) {
        config.start.linkKey = *key;
        return std::nullopt;
    }
    return ConfigError{"--key-file '" + path + "': " + std::get<std::string>(parsed)};
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
    auto resolved = ResolveRelayConfig(options, bytes);
    auto* config = std::get_if<RelayConfig>(&resolved);
    if (config == nullptr) {
        return resolved;
    }
    if (options.keyFilePath) {
        if (auto error = ReadKeyFile(*options.keyFilePath, *config)) {
            return *error;
        }
    }
    // A key says the link is meant to be sealed; with neither mode it would
    // carry plain bytes while the operator believes it sealed.
    if (config->start.linkKey && config->start.encode == EncodeMode::None) {
        const std::string where = options.keyFilePath
                                      ? "--key-file '" + *options.keyFilePath + "'"
                                      : options.configPath.value_or("") + ": LinkKey";
        return ConfigError{where +
                           ": a link key needs client or server mode (EncodeClient=1, "
                           "EncodeServer=1 or --encode); without one the link would be plain"};
    }
    return resolved;
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

    const SettingTexts texts(options, file);
    RelayConfig config;
    config.configPath = options.configPath;
    config.engine = CheckEngine(texts.Text(Setting::Engine)).value_or(EngineChoice{});
    config.start = ReadRun(texts, config.engine);
    config.start.linkKey = ReadLinkKey(texts.Text(Setting::LinkKey));
    if (auto error = CheckBindFamily(options, config, path)) {
        return *error;
    }
    config.logLevel = CheckLogLevel(texts.Text(Setting::LogLevel)).value_or(LogLevel::Info);
    config.statsInterval = std::chrono::seconds(texts.Number(Setting::Stats));
    config.metrics = CheckEndpoint(texts.Text(Setting::Metrics));
    config.drainTimeout = std::chrono::seconds(texts.Number(Setting::DrainTimeout));
    return config;
}
