// Every key of the settings file, once, keyed by the setting. The window's
// load and save and the headless relay's config reader walk this one table;
// nothing else spells a key.
#pragma once

#include <array>
#include <cstddef>

#include "resource.h"

inline constexpr char kSettingsSection[] = "Vorlane";
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
    int controlId;   // the window's control; 0: the window neither loads nor saves the key
};

inline constexpr std::array<SettingRow, kSettingCount> kSettings = {{
    {Setting::LocalListenPort, "LocalListenPort", "1987", SettingKind::Port, true, IDC_LOCAL_PORT},
    {Setting::ConnectionLimit, "ConnectionLimit", "100", SettingKind::Limit, true,
     IDC_CONNECTION_LIMIT},
    {Setting::DestAddr, "DestAddr", "127.0.0.1", SettingKind::Text, true, IDC_TARGET_ADDR},
    {Setting::DestPort, "DestPort", "1988", SettingKind::TargetPort, true, IDC_TARGET_PORT},
    {Setting::EncodeClient, "EncodeClient", "0", SettingKind::Box, true, IDC_ENCODE_CLIENT},
    {Setting::EncodeServer, "EncodeServer", "0", SettingKind::Box, true, IDC_ENCODE_SERVER},
    {Setting::AutoStart, "AutoStart", "0", SettingKind::Box, false, IDC_AUTO_START},
    {Setting::MinHideToTray, "MinHideToTray", "0", SettingKind::Box, false, IDC_MIN_HIDE_TO_TRAY},
    {Setting::BindAddr, "BindAddr", "", SettingKind::Address, true, 0},
    {Setting::AllowFrom, "AllowFrom", "", SettingKind::RangeList, true, 0},
    {Setting::ClientsPerAddress, "ClientsPerAddress", "40", SettingKind::Limit, true, 0},
    {Setting::Buffer, "Buffer", "", SettingKind::Buffer, true, 0},
    {Setting::ConnectTimeout, "ConnectTimeout", "10", SettingKind::Seconds, true, 0},
    {Setting::IdleTimeout, "IdleTimeout", "0", SettingKind::Seconds, true, 0},
    {Setting::FirstByteTimeout, "FirstByteTimeout", "30", SettingKind::Seconds, true, 0},
    {Setting::DrainTimeout, "DrainTimeout", "10", SettingKind::Drain, true, 0},
    {Setting::LogLevel, "LogLevel", "info", SettingKind::LogLevel, true, 0},
    {Setting::Stats, "Stats", "0", SettingKind::Seconds, true, 0},
    {Setting::Metrics, "Metrics", "", SettingKind::Endpoint, true, 0},
    {Setting::Engine, "Engine", "events", SettingKind::Engine, true, 0},
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
    return row.controlId != 0;
}
