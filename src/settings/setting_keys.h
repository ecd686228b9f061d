// Every key of the settings file, once, keyed by the setting. The window's
// load and save and the headless relay's config reader walk this one table;
// nothing else spells a key.
#pragma once

#include <array>
#include <cstddef>

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
};
inline constexpr std::size_t kSettingCount = static_cast<std::size_t>(Setting::Engine) + 1;

// What a value holds, and so how the headless relay checks it.
enum class SettingKind {
    Text,        // free text, read as the window reads an edit field
    Port,        // 0 to 65535 (0: the system picks)
    TargetPort,  // 1 to 65535
    Limit,       // 0 to 2147483647
    Box,         // a check box: "1" ticked, "0" not
    Address,     // an IPv4 or IPv6 literal
    RangeList,   // comma-separated address ranges
    Buffer,      // bytes per receive, 1 to 1048576
    Seconds,     // 0 to 31536000
    Drain,       // seconds, 0 to 60: with the final close it ends before systemd's kill
    LogLevel,    // error, warn, info or debug
    Endpoint,    // [ADDRESS:]PORT
    Engine,      // events or threads
};

struct SettingRow {
    Setting setting;
    const char* key;
    const char* defaultValue;
    SettingKind kind;
    bool relayUses;  // false: the headless relay checks the value and ignores it
    bool windowKey;  // the window loads and saves the key
};

inline constexpr std::array<SettingRow, kSettingCount> kSettings = {{
    {Setting::LocalListenPort, "LocalListenPort", "1987", SettingKind::Port, true, true},
    {Setting::ConnectionLimit, "ConnectionLimit", "100", SettingKind::Limit, true, true},
    {Setting::DestAddr, "DestAddr", "127.0.0.1", SettingKind::Text, true, true},
    {Setting::DestPort, "DestPort", "1988", SettingKind::TargetPort, true, true},
    {Setting::EncodeClient, "EncodeClient", "0", SettingKind::Box, true, true},
    {Setting::EncodeServer, "EncodeServer", "0", SettingKind::Box, true, true},
    {Setting::AutoStart, "AutoStart", "0", SettingKind::Box, false, true},
    {Setting::MinHideToTray, "MinHideToTray", "0", SettingKind::Box, false, true},
    {Setting::BindAddr, "BindAddr", "", SettingKind::Address, true, false},
    {Setting::AllowFrom, "AllowFrom", "", SettingKind::RangeList, true, false},
    {Setting::ClientsPerAddress, "ClientsPerAddress", "40", SettingKind::Limit, true, false},
    {Setting::Buffer, "Buffer", "", SettingKind::Buffer, true, false},
    {Setting::ConnectTimeout, "ConnectTimeout", "10", SettingKind::Seconds, true, false},
    {Setting::IdleTimeout, "IdleTimeout", "0", SettingKind::Seconds, true, false},
    {Setting::FirstByteTimeout, "FirstByteTimeout", "30", SettingKind::Seconds, true, false},
    {Setting::DrainTimeout, "DrainTimeout", "10", SettingKind::Drain, true, false},
    {Setting::LogLevel, "LogLevel", "info", SettingKind::LogLevel, true, false},
    {Setting::Stats, "Stats", "0", SettingKind::Seconds, true, false},
    {Setting::Metrics, "Metrics", "", SettingKind::Endpoint, true, false},
    {Setting::Engine, "Engine", "events", SettingKind::Engine, true, false},
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
