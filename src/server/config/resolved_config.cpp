#include "server/config/resolved_config.h"

#include <chrono>
#include <variant>

#include "settings/newline_marker.h"
#include "settings/setting_keys.h"

namespace {

// Says a key is set without the key: read back, the file is refused, so a
// printed config can never run unsealed where the key was meant.
constexpr char kHiddenLinkKey[] = "(set, not shown)";

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

// One field of the run as its key's value.
struct FieldText {
    const StartRequest& run;

    std::string operator()(int StartRequest::*field) const { return std::to_string(run.*field); }
    std::string operator()(std::size_t StartRequest::*field) const {
        return std::to_string(run.*field);
    }
    std::string operator()(std::string StartRequest::*field) const {
        return AsFileText(run.*field);
    }
    std::string operator()(std::chrono::milliseconds StartRequest::*field) const {
        return Seconds(run.*field);
    }
    std::string operator()(net::IpAddress StartRequest::*field) const {
        return (run.*field).IsUnspecified() ? "" : (run.*field).ToString();
    }
    std::string operator()(std::vector<net::IpRange> StartRequest::*field) const {
        return RangesText(run.*field);
    }
};

// The keys the run's fields do not hold: the encode boxes and the service's own.
std::string ServiceValue(Setting setting, const RelayConfig& config) {
    switch (setting) {
        case Setting::EncodeClient:
            return Box(config.start.encode == EncodeMode::Client);
        case Setting::EncodeServer:
            return Box(config.start.encode == EncodeMode::Server);
        case Setting::DrainTimeout:
            return Seconds(config.drainTimeout);
        case Setting::LogLevel:
            return NameOf(config.logLevel, kLogLevelNames);
        case Setting::Stats:
            return std::to_string(config.statsInterval.count());
        case Setting::Metrics:
            return config.metrics ? EndpointText(*config.metrics) : "";
        case Setting::Engine:
            return NameOf(config.engine, kEngineNames);
        case Setting::LinkKey:
            return config.start.linkKey ? kHiddenLinkKey : "";
        default:
            return {};
    }
}

std::string ValueOf(Setting setting, const RelayConfig& config) {
    for (const RunFieldKey& key : kRunFields) {
        if (key.setting == setting) {
            return std::visit(FieldText{config.start}, key.field);
        }
    }
    return ServiceValue(setting, config);
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
