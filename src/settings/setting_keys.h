// Every key of the settings file, once. The window's load and save and the
// headless relay's config reader walk this one table; nothing else spells a key.
#pragma once

#include <array>

#include "resource.h"

inline constexpr char kSettingsSection[] = "Vorlane";
inline constexpr char kSettingsFileName[] = "Setting.ini";
// Buffer size, terminator included, for a loaded value: at most 255 characters arrive.
inline constexpr int kSettingValueBufferSize = 256;

enum class SettingKind {
    Text,   // an edit field: its text is stored as it stands
    Check,  // a check box: "1" when ticked, "0" when not
};

struct SettingKey {
    const char* key;
    int controlId;
    const char* defaultValue;
    SettingKind kind;
};

// In load and save order.
inline constexpr std::array<SettingKey, 8> kSettingKeys = {{
    {"LocalListenPort", IDC_LOCAL_PORT, "1987", SettingKind::Text},
    {"ConnectionLimit", IDC_CONNECTION_LIMIT, "100", SettingKind::Text},
    {"DestAddr", IDC_TARGET_ADDR, "127.0.0.1", SettingKind::Text},
    {"DestPort", IDC_TARGET_PORT, "1988", SettingKind::Text},
    {"EncodeClient", IDC_ENCODE_CLIENT, "0", SettingKind::Check},
    {"EncodeServer", IDC_ENCODE_SERVER, "0", SettingKind::Check},
    {"AutoStart", IDC_AUTO_START, "0", SettingKind::Check},
    {"MinHideToTray", IDC_MIN_HIDE_TO_TRAY, "0", SettingKind::Check},
}};

// The row of a control; every id used with it is in the table (checked at compile time).
constexpr const SettingKey& SettingFor(int controlId) {
    for (const SettingKey& row : kSettingKeys) {
        if (row.controlId == controlId) {
            return row;
        }
    }
    throw "control id not in the settings table";
}
