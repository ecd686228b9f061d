#include "server/config/setting_values.h"

#include "seal/link_key.h"

#include "server/text/address_text.h"
#include "server/text/number_text.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr std::int64_t kLowestMetricsPort = 1;  // port 0 would serve where nobody finds it

std::optional<std::int64_t> NumberIn(std::string_view text, std::int64_t minValue,
                                     std::int64_t maxValue) {
    const auto value = ParseUnsignedDecimal(text, maxValue);
    if (!value || *value < minValue) {
        return std::nullopt;
    }
    return value;
}

std::string PortRange() {
    return "a port from " + std::to_string(kLowestMetricsPort) + " to " +
           std::to_string(kLargestPort);
}

}  // namespace

std::optional<std::int64_t> CheckNumber(const SettingRow& row, std::string_view text) {
    return NumberIn(text, row.minValue, row.maxValue);
}

std::optional<bool> CheckBox(std::string_view text) {
    if (text == "0" || text == "1") {
        return text == "1";
    }
    return std::nullopt;
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
    return ValueNamed(text, kLogLevelNames);
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
    const auto port = NumberIn(portText, kLowestMetricsPort, kLargestPort);
    if (!address || !port) {
        return std::nullopt;
    }
    return MetricsEndpoint{*address, static_cast<std::uint16_t>(*port)};
}

std::optional<EngineChoice> CheckEngine(std::string_view text) {
    return ValueNamed(text, kEngineNames);
}

std::optional<EncodeMode> CheckEncode(std::string_view text) {
    return ValueNamed(text, kEncodeModeNames);
}

bool IsValueOf(const SettingRow& row, std::string_view text) {
    switch (row.kind) {
        case SettingKind::Text:
            return true;
        case SettingKind::Number:
            return CheckNumber(row, text).has_value();
        case SettingKind::Box:
            return CheckBox(text).has_value();
        case SettingKind::Address:
            return CheckAddress(text).has_value();
        case SettingKind::RangeList:
            return CheckRangeList(text).has_value();
        case SettingKind::LogLevel:
            return CheckLogLevel(text).has_value();
        case SettingKind::Endpoint:
            return CheckEndpoint(text).has_value();
        case SettingKind::Engine:
            return CheckEngine(text).has_value();
        case SettingKind::LinkKey:
            return std::holds_alternative<seal::LinkKey>(seal::ParseLinkKey(text));
    }
    return false;
}

std::string ExpectedValue(const SettingRow& row) {
    switch (row.kind) {
        case SettingKind::Text:
            return "a text";
        case SettingKind::Number:
            return "a number from " + std::to_string(row.minValue) + " to " +
                   std::to_string(row.maxValue);
        case SettingKind::Box:
            return "0 or 1";
        case SettingKind::Address:
            return "an IPv4 or IPv6 address";
        case SettingKind::RangeList:
            return "a list of ranges such as 10.0.0.0/8, 10.1.2.3, fd00::/8";
        case SettingKind::LogLevel:
            return OneOfNames(kLogLevelNames);
        case SettingKind::Endpoint:
            return "[ADDRESS:]PORT with " + PortRange();
        case SettingKind::Engine:
            return OneOfNames(kEngineNames);
        case SettingKind::LinkKey:
            return "a link key";
    }
    return "valid";
}

std::string ExpectedEncode() {
    return OneOfNames(kEncodeModeNames);
}

std::string EndpointText(const MetricsEndpoint& endpoint) {
    return net::EndpointText(endpoint.address, endpoint.port);
}
