// The window's control for each setting it loads and saves. The settings
// table says which keys are the window's; the control ids are the window's own.
#pragma once

#include <array>
#include <cstddef>

#include "resource.h"
#include "settings/setting_keys.h"

struct SettingControl {
    Setting setting;
    int controlId;
};

inline constexpr std::array<SettingControl, 8> kSettingControls = {{
    {Setting::LocalListenPort, IDC_LOCAL_PORT},
    {Setting::ConnectionLimit, IDC_CONNECTION_LIMIT},
    {Setting::DestAddr, IDC_TARGET_ADDR},
    {Setting::DestPort, IDC_TARGET_PORT},
    {Setting::EncodeClient, IDC_ENCODE_CLIENT},
    {Setting::EncodeServer, IDC_ENCODE_SERVER},
    {Setting::AutoStart, IDC_AUTO_START},
    {Setting::MinHideToTray, IDC_MIN_HIDE_TO_TRAY},
}};

// 0 for a setting the window has no control for.
constexpr int ControlOf(Setting setting) {
    for (const SettingControl& entry : kSettingControls) {
        if (entry.setting == setting) {
            return entry.controlId;
        }
    }
    return 0;
}

constexpr bool EveryWindowKeyHasItsOwnControl() {
    std::size_t windowKeys = 0;
    for (const SettingRow& row : kSettings) {
        if (row.windowKey != (ControlOf(row.setting) != 0)) {
            return false;
        }
        windowKeys += row.windowKey ? 1 : 0;
    }
    return windowKeys == kSettingControls.size();
}
static_assert(EveryWindowKeyHasItsOwnControl(),
              "kSettingControls must give a control to exactly the window's keys");
