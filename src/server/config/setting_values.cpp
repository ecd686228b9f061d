#include "server/config/setting_values.h"

#include <array>
#include <utility>

#include "server/text/address_text.h"
#include "server/text/number_text.h"

namespace {

constexpr std::int64_t kMaxPort = 65535;
constexpr std::int64_t kMaxLimit = 2147483647;
constexpr std::int64_t kMaxBuffer = 1048576;
constexpr std::uint32_t kLoopback = 0x7F000001;

std::optional<std::int64_t> NumberIn(std::string_view text, std::int64_t minValue,
                                     std::int64_t maxValue) {
    const auto value = ParseUnsignedDecimal(text, maxValue);
    if (!value || *value < minValue) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> IntIn(std::string_view text, std::int64_t minValue, std::int64_t maxValue) {
    const auto value = NumberIn(text, minValue, maxValue);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

template <class Value, std::size_t N>
std::optional<Value> Named(std::string_view text,
                           const std::array<std::pair<const char*, Value>, N>& names) {
    for (const auto& [name, value] : names) {
        if (text == name) {
            return value;
        }
    }
    return std::nullopt;
}

constexpr std::array<std::pair<const char*, LogLevel>, 4> kLogLevels = {{
    {"error", LogLevel::Error},
    {"warn", LogLevel::Warn},
    {"info", LogLevel::Info},
    {"debug", LogLevel::Debug},
}};
constexpr std::array<std::pair<const char*, EngineChoice>, 2> kEngines = {{
    {"events", EngineChoice::Events},
    {"threads", EngineChoice::Threads},
}};
constexpr std::array<std::pair<const char*, EncodeChoice>, 3> kEncodes = {{
    {"none", EncodeChoice::None},
    {"client", EncodeChoice::Client},
    {"server", EncodeChoice::Server},
}};

template <class Value, std::size_t N>
const char* NameOf(Value value, const std::array<std::pair<const char*, Value>, N>& names) {
    for (const auto& [name, named] : names) {
        if (named == value) {
            return name;
        }
    }
    return "";
}

}  // namespace

std::optional<int> CheckPort(std::string_view text) {
    return IntIn(text, 0, kMaxPort);
}

std::optional<int> CheckTargetPort(std::string_view text) {
    return IntIn(text, 1, kMaxPort);
}

std::optional<int> CheckLimit(std::string_view text) {
    return IntIn(text, 0, kMaxLimit);
}

std::optional<bool> CheckBox(std::string_view text) {
    if (text == "0" || text == "1") {
        return text == "1";
    }
    return std::nullopt;
}

std::optional<std::size_t> CheckBuffer(std::string_view text) {
    const auto value = NumberIn(text, 1, kMaxBuffer);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(*value);
}

std::optional<std::chrono::seconds> CheckSeconds(std::string_view text) {
    const auto value = NumberIn(text, 0, kMaxSeconds);
    if (!value) {
        return std::nullopt;
    }
    return std::chrono::seconds(*value);
}

std::optional<std::chrono::seconds> CheckDrainSeconds(std::string_view text) {
    const auto value = NumberIn(text, 0, kMaxDrainSeconds);
    if (!value) {
        return std::nullopt;
    }
    return std::chrono::seconds(*value);
}

std::optional<net::IpAddress> CheckAddress(std::string_view text) {
    return net::IpAddress::Parse(text);
}

std::optional<std::vector<net::IpRange>> CheckRangeList(std::string_view text) {
    auto ranges = ParseAllowList(text);
    // Commas and blanks alone would admit every client where some were meant.
    if (ranges && ranges->empty() && !text.empty()) {
        return std::nullopt;
    }
    return ranges;
}

std::optional<net::IpRange> CheckRange(std::string_view text) {
    return net::IpRange::Parse(text);
}

std::optional<LogLevel> CheckLogLevel(std::string_view text) {
    return Named(text, kLogLevels);
}

std::optional<MetricsEndpoint> CheckEndpoint(std::string_view text) {
    std::optional<net::IpAddress> address = net::IpAddress::FromV4(kLoopback);
    std::string_view portText = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find("]:");
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        address = net::IpAddress::Parse(text.substr(1, close - 1));
        portText = text.substr(close + 2);
    } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        // Never an IPv6 address: without brackets its first colon comes too soon.
        address = net::IpAddress::Parse(text.substr(0, colon));
        portText = text.substr(colon + 1);
    }
    const auto port = CheckTargetPort(portText);
    if (!address || !port) {
        return std::nullopt;
    }
    return MetricsEndpoint{*address, static_cast<std::uint16_t>(*port)};
}

std::optional<EngineChoice> CheckEngine(std::string_view text) {
    return Named(text, kEngines);
}

std::optional<EncodeChoice> CheckEncode(std::string_view text) {
    return Named(text, kEncodes);
}

bool IsValueOf(SettingKind kind, std::string_view text) {
    switch (kind) {
        case SettingKind::Text:
            return true;
        case SettingKind::Port:
            return CheckPort(text).has_value();
        case SettingKind::TargetPort:
            return CheckTargetPort(text).has_value();
        case SettingKind::Limit:
            return CheckLimit(text).has_value();
        case SettingKind::Box:
            return CheckBox(text).has_value();
        case SettingKind::Address:
            return CheckAddress(text).has_value();
        case SettingKind::RangeList:
            return CheckRangeList(text).has_value();
        case SettingKind::Buffer:
            return CheckBuffer(text).has_value();
        case SettingKind::Seconds:
            return CheckSeconds(text).has_value();
        case SettingKind::Drain:
            return CheckDrainSeconds(text).has_value();
        case SettingKind::LogLevel:
            return CheckLogLevel(text).has_value();
        case SettingKind::Endpoint:
            return CheckEndpoint(text).has_value();
        case SettingKind::Engine:
            return CheckEngine(text).has_value();
    }
    return false;
}

const char* ExpectedValue(SettingKind kind) {
    switch (kind) {
        case SettingKind::Text:
            return "a text";
        case SettingKind::Port:
            return "a number from 0 to 65535";
        case SettingKind::TargetPort:
            return "a number from 1 to 65535";
        case SettingKind::Limit:
            return "a number from 0 to 2147483647";
        case SettingKind::Box:
            return "0 or 1";
        case SettingKind::Address:
            return "an IPv4 or IPv6 address";
        case SettingKind::RangeList:
            return "a list of ranges such as 10.0.0.0/8, 10.1.2.3, fd00::/8";
        case SettingKind::Buffer:
            return "a number from 1 to 1048576";
        case SettingKind::Seconds:
            return "a number from 0 to 31536000";
        case SettingKind::Drain:
            return "a number from 0 to 60";
        case SettingKind::LogLevel:
            return "one of error, warn, info, debug";
        case SettingKind::Endpoint:
            return "[ADDRESS:]PORT with a port from 1 to 65535";
        case SettingKind::Engine:
            return "one of events, threads";
    }
    return "valid";
}

const char* LogLevelText(LogLevel level) {
    return NameOf(level, kLogLevels);
}

const char* EngineText(EngineChoice engine) {
    return NameOf(engine, kEngines);
}

std::string EndpointText(const MetricsEndpoint& endpoint) {
    const std::string address = endpoint.address.ToString();
    const std::string port = std::to_string(endpoint.port);
    return endpoint.address.IsV4() ? address + ":" + port : "[" + address + "]:" + port;
}
