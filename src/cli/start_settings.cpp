#include "cli/start_settings.h"

#include <optional>
#include <utility>

#include "cli/address_text.h"
#include "cli/listen_backlog.h"
#include "cli/number_text.h"
#include "settings/field_integer.h"
#include "settings/ini_document.h"
#include "settings/newline_marker.h"
#include "settings/profile_file.h"
#include "settings/setting_keys.h"

namespace {

// The [Vorlane] section of the config file; with no file, every key is missing.
class ConfigSection {
  public:
    explicit ConfigSection(IniDocument document) : document_(std::move(document)) {}

    // A setting as its control would show it after the window's load.
    std::string Text(int controlId) const {
        const SettingKey& row = SettingFor(controlId);
        return NewlineMarkersToCrLf(ProfileValue(document_, kSettingsSection, row.key,
                                                 row.defaultValue, kSettingValueBufferSize));
    }
    int Integer(int controlId) const { return ReadFieldInteger(Text(controlId)); }
    bool Ticked(int controlId) const { return Text(controlId) == "1"; }

    // A key of the headless relay alone, read whole: a range list cut to 255
    // characters could widen a range.
    std::string Extra(const char* key) const {
        return document_.Find(kSettingsSection, key).value_or("");
    }

  private:
    IniDocument document_;
};

std::optional<std::string> ReadConfig(const RelayOptions& options) {
    if (!options.configPath) {
        return std::string();
    }
    return ReadFileBytes(*options.configPath);
}

}  // namespace

std::variant<StartRequest, StartSettingsError> BuildStartRequest(const RelayOptions& options) {
    const std::optional<std::string> bytes = ReadConfig(options);
    if (!bytes) {
        return StartSettingsError{"--config: cannot read '" + *options.configPath + "'"};
    }
    const ConfigSection config(IniDocument::Parse(*bytes));
    const auto badKey = [&](const char* key, const std::string& value, const char* expected) {
        return StartSettingsError{"--config: " + std::string(key) + " '" + value + "' in '" +
                                  *options.configPath + "' is not " + expected};
    };

    StartRequest request;
    request.localPort = options.listenPort.value_or(config.Integer(IDC_LOCAL_PORT));
    request.connectionLimit = options.limit.value_or(config.Integer(IDC_CONNECTION_LIMIT));
    request.targetText = options.target.value_or(config.Text(IDC_TARGET_ADDR));
    request.targetPort = options.targetPort.value_or(config.Integer(IDC_TARGET_PORT));
    if (options.encode) {
        request.encodeClient = *options.encode == EncodeChoice::Client;
        request.encodeServer = *options.encode == EncodeChoice::Server;
    } else {
        request.encodeClient = config.Ticked(IDC_ENCODE_CLIENT);
        request.encodeServer = config.Ticked(IDC_ENCODE_SERVER);
    }
    request.chunkSize = options.chunkSize.value_or(
        options.engine == EngineChoice::Events ? kEventsChunkSize : kThreadsChunkSize);
    request.connectTimeout = options.connectTimeout;
    request.idleTimeout = options.idleTimeout;
    request.backlog = HeadlessListenBacklog();

    if (options.bindAddress) {
        request.bindAddress = *options.bindAddress;
    } else if (const std::string text = config.Extra(kBindAddrKey); !text.empty()) {
        const auto address = net::IpAddress::Parse(text);
        if (!address || (options.engine == EngineChoice::Threads && !address->IsV4())) {
            return badKey(kBindAddrKey, text,
                          options.engine == EngineChoice::Threads ? "an IPv4 address"
                                                                  : "an IPv4 or IPv6 address");
        }
        request.bindAddress = *address;
    }

    if (options.allowFrom) {
        request.allowFrom = *options.allowFrom;
    } else {
        std::string badItem;
        auto ranges = ParseAllowList(config.Extra(kAllowFromKey), &badItem);
        if (!ranges) {
            return badKey(kAllowFromKey, badItem, "a range such as 10.0.0.0/8 or fd00::/8");
        }
        request.allowFrom = std::move(*ranges);
    }
    return request;
}
