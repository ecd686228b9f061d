// Moves the eight settings between the window's controls and Setting.ini
// beside the executable, through the system's private-profile functions.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "seal/link_key.h"

enum class PersistDirection : unsigned char { Load = 0, Save = 1 };

// Every key of the settings table that has a control, in table order. A row that fails does not
// stop the rows after it. False when a save could not write every key.
bool PersistSettings(HWND dialog, PersistDirection direction);

// Setting.ini's link key as the window holds it from its start.
struct WindowLinkKey {
    std::optional<seal::LinkKey> key;  // none when the key is missing or empty
    bool malformed = false;            // a key is there but is not one: Start refuses
};

// LinkKey from the file at path, read through the same private-profile call
// as the eight keys. The window only reads it: it has no field for the key,
// and a save leaves the file's line as it is.
WindowLinkKey LoadLinkKey(const std::string& path, const std::string& section);

// Setting.ini beside the running executable, in the system's code page.
std::string SettingsPath();

// One control and one key. direction: 0 loads, anything else saves. size is
// the buffer, terminator included, for a loaded text. False when the control
// is missing or is neither an edit field nor a check box.
bool PersistControl(HWND dialog, unsigned char direction, int controlId, const char* key,
                    const char* defaultValue, int size);

// The folder of modulePath (up to and including its last backslash, found
// character by character in codePage) followed by "Setting.ini".
std::string SettingsPathBeside(const std::string& modulePath, UINT codePage);
