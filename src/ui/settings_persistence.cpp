#include "ui/settings_persistence.h"

#include <cstring>
#include <variant>
#include <vector>

#include "framework/application.h"
#include "framework/dialog_items.h"
#include "settings/newline_marker.h"
#include "settings/setting_keys.h"
#include "ui/setting_controls.h"

namespace {

enum class ControlKind { Text, Check, Other };
// What became of one row: moved, skipped (no such control, or not a text or
// check control), or handled but not written to the file.
enum class RowResult { Done, Skipped, NotWritten };

// Check boxes, three-state boxes and automatic radio buttons all have one of
// these bits in the low byte of their style.
constexpr LONG kCheckStyleBits = 0x0B;
constexpr int kCheckBufferSize = 256;

ControlKind KindOf(HWND control) {
    char className[256] = {};
    GetClassNameA(control, className, static_cast<int>(sizeof className));
    if (std::strcmp(className, "Edit") == 0) {
        return ControlKind::Text;
    }
    if (std::strcmp(className, "Button") == 0) {
        const LONG style = GetWindowLongA(control, GWL_STYLE) & 0xFF;
        return (style & kCheckStyleBits) != 0 ? ControlKind::Check : ControlKind::Other;
    }
    return ControlKind::Other;
}

std::string ReadValue(const std::string& path, const std::string& section, const char* key,
                      const char* defaultValue, int size) {
    std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    const DWORD length = GetPrivateProfileStringA(section.c_str(), key, defaultValue, buffer.data(),
                                                  static_cast<DWORD>(buffer.size()), path.c_str());
    return std::string(buffer.data(), length);
}

RowResult Written(BOOL result) {
    return result ? RowResult::Done : RowResult::NotWritten;
}

RowResult PersistRow(HWND dialog, unsigned char direction, int controlId, const char* key,
                     const char* defaultValue, int size) {
    const std::string path = SettingsPath();
    const std::string section = CApplication::Current().AppName();
    HWND control = GetDlgItem(dialog, controlId);
    if (control == nullptr || !IsWindow(control)) {
        return RowResult::Skipped;
    }
    const bool load = direction == 0;
    switch (KindOf(control)) {
        case ControlKind::Text: {
            if (load) {
                const std::string value = ReadValue(path, section, key, defaultValue, size);
                SetWindowTextA(control, NewlineMarkersToCrLf(value).c_str());
                return RowResult::Done;
            }
            const std::string value = CrLfToNewlineMarkers(GetItemText(dialog, controlId));
            return Written(
                WritePrivateProfileStringA(section.c_str(), key, value.c_str(), path.c_str()));
        }
        case ControlKind::Check: {
            if (load) {
                const std::string value =
                    ReadValue(path, section, key, defaultValue, kCheckBufferSize);
                // A direct state change: no click, so no command reaches the window.
                SendMessageA(control, BM_SETCHECK, value == "1" ? BST_CHECKED : BST_UNCHECKED, 0);
                return RowResult::Done;
            }
            const bool unticked = SendMessageA(control, BM_GETCHECK, 0, 0) == BST_UNCHECKED;
            return Written(WritePrivateProfileStringA(section.c_str(), key, unticked ? "0" : "1",
                                                      path.c_str()));
        }
        case ControlKind::Other:
            break;
    }
    return RowResult::Skipped;
}

}  // namespace

WindowLinkKey LoadLinkKey(const std::string& path, const std::string& section) {
    const SettingRow& row = RowOf(Setting::LinkKey);
    std::string text = ReadValue(path, section, row.key, row.defaultValue, kSettingValueBufferSize);
    WindowLinkKey loaded;
    if (!text.empty()) {
        auto parsed = seal::ParseLinkKey(text);
        if (auto* key = std::get_if<seal::LinkKey>(&parsed)) {
            loaded.key = *key;
        } else {
            loaded.malformed = true;
        }
    }
    seal::Wipe(text.data(), text.size());
    return loaded;
}

std::string SettingsPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return SettingsPathBeside(path, CP_ACP);
}

std::string SettingsPathBeside(const std::string& modulePath, UINT codePage) {
    // A backslash byte can be the second byte of a double-byte character.
    std::size_t afterLastBackslash = 0;
    for (std::size_t i = 0; i < modulePath.size();) {
        const auto byte = static_cast<BYTE>(modulePath[i]);
        if (byte == '\\') {
            afterLastBackslash = i + 1;
        }
        i += IsDBCSLeadByteEx(codePage, byte) && i + 1 < modulePath.size() ? 2 : 1;
    }
    if (afterLastBackslash == 0) {
        return modulePath + kSettingsFileName;
    }
    return modulePath.substr(0, afterLastBackslash) + kSettingsFileName;
}

bool PersistControl(HWND dialog, unsigned char direction, int controlId, const char* key,
                    const char* defaultValue, int size) {
    return PersistRow(dialog, direction, controlId, key, defaultValue, size) != RowResult::Skipped;
}

bool PersistSettings(HWND dialog, PersistDirection direction) {
    bool allWritten = true;
    // The relay's own keys are left as they are in the file: each write
    // below changes its one key only.
    for (const SettingRow& row : kSettings) {
        if (!IsWindowSetting(row)) {
            continue;
        }
        if (PersistRow(dialog, static_cast<unsigned char>(direction), ControlOf(row.setting),
                       row.key, row.defaultValue,
                       kSettingValueBufferSize) == RowResult::NotWritten) {
            allWritten = false;
        }
    }
    return allWritten;
}
