#include "server/config/resolved_config.h"

#include <chrono>

#include "settings/newline_marker.h"
#include "settings/setting_keys.h"

namespace {

std::string Seconds(std::chrono::milliseconds duration) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(duration).count());
}

std::string Box(bool ticked) {
    return ticked ? "1" : "0";
}

// A file value loses its surrounding blanks and one pair of enclosing
// quotes; a text that would lose either is quoted so that it reads back as it is.
std::string AsFileText(const std::string& text) {
    std::string value = CrLfToNewlineMarkers(text);
    if (value.empty()) {
        return value;
    }
    // The reader's blanks are CR, VT and FF too: a lone CR ends a target read from a file.
    const auto loses = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '"' ||
               c == '\'';
    };
    if (loses(value.front()) || loses(value.back())) {
        return "\"" + value + "\"";
    }
    return value;
}

std::string RangesText(const std::vector<net::IpRange>& ranges) {
    std::string text;
    for (const net::IpRange& range : ranges) {
        text += (text.empty() ? "" : ", ") + range.ToString();
    }
    return text;
}

std::string ValueOf(Setting setting, const RelayConfig& config) {
    const StartRequest& start = config.start;
    switch (setting) {
        case Setting::LocalListenPort:
            return std::to_string(start.localPort);
        case Setting::ConnectionLimit:
            return std::to_string(start.connectionLimit);
        case Setting::DestAddr:
            return AsFileText(start.targetText);
        case Setting::DestPort:
            return std::to_string(start.targetPort);
        case Setting::EncodeClient:
            return Box(start.encodeClient);
        case Setting::EncodeServer:
            return Box(start.encodeServer);
        case Setting::AutoStart:
        case Setting::MinHideToTray:
            return {};  // the window's alone
        case Setting::BindAddr:
            return start.bindAddress.IsUnspecified() ? "" : start.bindAddress.ToString();
        case Setting::AllowFrom:
            return RangesText(start.allowFrom);
        case Setting::Buffer:
            return std::to_string(start.chunkSize);
        case Setting::ConnectTimeout:
            return Seconds(start.connectTimeout);
        case Setting::IdleTimeout:
            return Seconds(start.idleTimeout);
        case Setting::FirstByteTimeout:
            return Seconds(start.firstByteTimeout);
        case Setting::ClientsPerAddress:
            return std::to_string(start.clientsPerAddress);
        case Setting::DrainTimeout:
            return Seconds(config.drainTimeout);
        case Setting::LogLevel:
            return LogLevelText(config.logLevel);
        case Setting::Stats:
            return std::to_string(config.statsInterval.count());
        case Setting::Metrics:
            return config.metrics ? EndpointText(*config.metrics) : "";
        case Setting::Engine:
            return EngineText(config.engine);
    }
    return {};
}

}  // namespace

std::string FormatResolvedConfig(const RelayConfig& config) {
    std::string text = std::string("[") + kSettingsSection + "]\n";
    for (const SettingRow& row : kSettings) {
        if (row.relayUses) {
            text += std::string(row.key) + "=" + ValueOf(row.setting, config) + "\n";
        }
    }
    return text;
}
