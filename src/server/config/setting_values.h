// The typed values of vorlane-relay's options and config keys, and one strict
// checker per kind of value, shared by the command line and the config file:
// a text is a value of its kind as a whole or not at all (numbers are decimal
// digits only: no sign, blanks, exponent or hex; nothing out of range wraps).
// Ranges come from the settings table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ip_address.h"
#include "relay/byte_map.h"
#include "server/logging/log_level.h"
#include "settings/named_values.h"
#include "settings/setting_keys.h"

// Which engine carries the relay: events (the default: a few threads for all
// clients, IPv6, time-outs) or threads (two threads per client, IPv4 only, as
// the window runs).
enum class EngineChoice { Events, Threads };
inline constexpr NameTable<EngineChoice, 2> kEngineNames = {{
    {"events", EngineChoice::Events},
    {"threads", EngineChoice::Threads},
}};

// Where --metrics serves; the address is loopback when none is given.
struct MetricsEndpoint {
    net::IpAddress address;
    std::uint16_t port = 0;

    bool operator==(const MetricsEndpoint& other) const {
        return address == other.address && port == other.port;
    }
};

// A Number in the row's range.
std::optional<std::int64_t> CheckNumber(const SettingRow& row, std::string_view text);
std::optional<bool> CheckBox(std::string_view text);
std::optional<net::IpAddress> CheckAddress(std::string_view text);
// Comma-separated ranges with optional blanks around each; empty text is an
// empty list, while text with no range in it (" , ,") is no list at all.
std::optional<std::vector<net::IpRange>> CheckRangeList(std::string_view text);
// One range, as --allow takes it.
std::optional<net::IpRange> CheckRange(std::string_view text);
std::optional<LogLevel> CheckLogLevel(std::string_view text);
// PORT, ADDRESS:PORT with an IPv4 address, or [ADDRESS]:PORT with IPv6.
std::optional<MetricsEndpoint> CheckEndpoint(std::string_view text);
std::optional<EngineChoice> CheckEngine(std::string_view text);
std::optional<EncodeMode> CheckEncode(std::string_view text);

// Whether the text is a value of the row's kind (any text is a Text).
bool IsValueOf(const SettingRow& row, std::string_view text);

// What a value of the row must be, to finish "... is not <expected>".
std::string ExpectedValue(const SettingRow& row);
inline constexpr char kExpectedRange[] = "a range such as 10.0.0.0/8, 10.1.2.3 or fd00::/8";
std::string ExpectedEncode();

// The text a config file or --check-config spells the endpoint with.
std::string EndpointText(const MetricsEndpoint& endpoint);
