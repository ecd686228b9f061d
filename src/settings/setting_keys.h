// Every key of the settings file, once, keyed by the setting. The window's
// load and save and the headless relay's config reader walk this one table;
// nothing else spells a key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "settings/app_title.h"

// The window reads the same title from its string table.
inline constexpr char kSettingsSection[] = VORLANE_APP_TITLE;
inline constexpr char kSettingsFileName[] = "Setting.ini";
// Buffer size, terminator included, for a loaded value: at most 255 characters arrive.
inline constexpr int kSettingValueBufferSize = 256;

// In table order: the window's eight in its load and save order, then the
// headless relay's own.
enum class Setting {
    LocalListenPort,
    ConnectionLimit,
    DestAddr,
    DestPort,
    EncodeClient,
    EncodeServer,
    AutoStart,
    MinHideToTray,
    BindAddr,
    AllowFrom,
    ClientsPerAddress,
    Buffer,
    ConnectTimeout,
    IdleTimeout,
    FirstByteTimeout,
    DrainTimeout,
    LogLevel,
    Stats,
    Metrics,
    Engine,
    LinkKey,
};
inline constexpr std::size_t kSettingCount = static_cast<std::size_t>(Setting::LinkKey) + 1;

// What a value holds, and so how the headless relay checks it.
enum class SettingKind {
    Text,       // free text, read as the window reads an edit field
    Number,     // decimal digits, from the row's minValue to its maxValue
    Box,        // a check box: "1" ticked, "0" not
    Address,    // an IPv4 or IPv6 literal
    RangeList,  // comma-separated address ranges
    LogLevel,   // error, warn, info or debug
    Endpoint,   // [ADDRESS:]PORT
    Engine,     // events or threads
    LinkKey,    // 32 bytes as base64; a secret, so no message ever quotes it
};

inline constexpr std::int64_t kLargestPort = 65535;
inline constexpr std::int64_t kLargestLimit = 2147483647;
inline constexpr std::int64_t kLargestBuffer = 1048576;
inline constexpr std::int64_t kLargestSeconds = 31536000;  // a year
// The longest drain: with the engine's final close wait (5 s) it stays below
// the systemd unit's TimeoutStopSec, so a stop never ends in SIGKILL.
inline constexpr std::int64_t kLargestDrainSeconds = 60;

struct SettingRow {
    Setting setting;
    const char* key;
    const char* defaultValue;
    SettingKind kind;
    std::int64_t minValue;  // a Number's range; unused by other kinds
    std::int64_t maxValue;
    bool relayUses;  // false: the headless relay checks the value and ignores it
    bool windowKey;  // the window loads and saves the key
    // vorlane-relay's option for the key ("" for none), the word its help
    // shows for the value (a name's kind shows its names), and the help itself: {default}, {min}
    // and {max} stand for the row's values; the command line fills in the rest.
    const char* option;
    const char* valueName;
    const char* help;
};

inline constexpr std::array<SettingRow, kSettingCount> kSettings = {{
    {Setting::LocalListenPort, "LocalListenPort", "1987", SettingKind::Number, 0, kLargestPort,
     true, true, "--listen", "PORT", "local port (default {default})"},
    {Setting::ConnectionLimit, "ConnectionLimit", "100", SettingKind::Number, 0, kLargestLimit,
     true, true, "--limit", "N", "most relay shares, two per client (default {default})"},
    {Setting::DestAddr, "DestAddr", "127.0.0.1", SettingKind::Text, 0, 0, true, true, "--target",
     "HOST", "target address (IPv4; IPv6 with events) or host name (default {default})"},
    {Setting::DestPort, "DestPort", "1988", SettingKind::Number, 1, kLargestPort, true, true,
     "--target-port", "PORT", "target port (default {default})"},
    {Setting::EncodeClient, "EncodeClient", "0", SettingKind::Box, 0, 0, true, true, "", "", ""},
    {Setting::EncodeServer, "EncodeServer", "0", SettingKind::Box, 0, 0, true, true, "", "", ""},
    {Setting::AutoStart, "AutoStart", "0", SettingKind::Box, 0, 0, false, true, "", "", ""},
    {Setting::MinHideToTray, "MinHideToTray", "0", SettingKind::Box, 0, 0, false, true, "", "", ""},
    {Setting::BindAddr, "BindAddr", "", SettingKind::Address, 0, 0, true, false, "--bind",
     "ADDRESS", "listen on this local IPv4 or IPv6 address only (default all, both families)"},
    {Setting::AllowFrom, "AllowFrom", "", SettingKind::RangeList, 0, 0, true, false, "--allow",
     "CIDR", "admit only clients in this range (repeatable); others are closed at once"},
    {Setting::ClientsPerAddress, "ClientsPerAddress", "40", SettingKind::Number, 0, kLargestLimit,
     true, false, "--clients-per-address", "N",
     "most clients at once from one IPv4 address or IPv6 /64; more get the refusal text "
     "(events; default {default}, 0: no cap)"},
    // Empty: each engine's own chunk size.
    {Setting::Buffer, "Buffer", "", SettingKind::Number, 1, kLargestBuffer, true, false, "--buffer",
     "BYTES",
     "bytes per receive, {min} to {max} (default {events_chunk} with events, {threads_chunk} "
     "with threads)"},
    {Setting::ConnectTimeout, "ConnectTimeout", "10", SettingKind::Number, 0, kLargestSeconds, true,
     false, "--connect-timeout", "SECONDS",
     "give a target that does not answer up after this long (events; default {default}, 0: the "
     "system's)"},
    {Setting::IdleTimeout, "IdleTimeout", "0", SettingKind::Number, 0, kLargestSeconds, true, false,
     "--idle-timeout", "SECONDS",
     "close a connection with no bytes either way for this long (events; default {default}, "
     "never)"},
    {Setting::FirstByteTimeout, "FirstByteTimeout", "30", SettingKind::Number, 0, kLargestSeconds,
     true, false, "--first-byte-timeout", "SECONDS",
     "close a connection on which no byte has moved either way since it was accepted after this "
     "long (events; default {default}, 0: never)"},
    {Setting::DrainTimeout, "DrainTimeout", "10", SettingKind::Number, 0, kLargestDrainSeconds,
     true, false, "--drain-timeout", "SECONDS",
     "on SIGTERM or SIGINT, let live connections finish for this long, {min} to {max} (default "
     "{default})"},
    {Setting::LogLevel, "LogLevel", "info", SettingKind::LogLevel, 0, 0, true, false, "--log-level",
     "", "what goes to stderr (default {default})"},
    {Setting::Stats, "Stats", "0", SettingKind::Number, 0, kLargestSeconds, true, false, "--stats",
     "[SECONDS]",
     "print a statistics line on stdout every SECONDS (default {bare}) when something changed, and "
     "once a minute"},
    {Setting::Metrics, "Metrics", "", SettingKind::Endpoint, 0, 0, true, false, "--metrics",
     "[ADDRESS:]PORT",
     "serve Prometheus metrics on /metrics at this port (address 127.0.0.1 unless given; IPv6 as "
     "[ADDRESS]:PORT)"},
    {Setting::Engine, "Engine", "events", SettingKind::Engine, 0, 0, true, false, "--engine", "",
     "events: a few threads for every client (default); threads: two per client, IPv4 only, as "
     "the window runs, with no per-address cap and no time-outs"},
    // No option: a command line shows in the process list. Empty: no key.
    // The window reads it too, but never saves it, as it has no field for it.
    {Setting::LinkKey, "LinkKey", "", SettingKind::LinkKey, 0, 0, true, false, "", "", ""},
}};

constexpr bool TableIsKeyedBySetting() {
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        if (static_cast<std::size_t>(kSettings[i].setting) != i) {
            return false;
        }
    }
    return true;
}
static_assert(TableIsKeyedBySetting(), "row i of kSettings must be Setting i");

constexpr const SettingRow& RowOf(Setting setting) {
    return kSettings[static_cast<std::size_t>(setting)];
}

// A key the window loads and saves.
constexpr bool IsWindowSetting(const SettingRow& row) {
    return row.windowKey;
}
