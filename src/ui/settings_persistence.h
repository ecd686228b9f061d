// Moves the eight settings between the window's controls and Setting.ini
// beside the executable, through the system's private-profile functions.
#pragma once

#include <windows.h>

#include <string>

enum class PersistDirection : unsigned char { Load = 0, Save = 1 };

// Every key of the settings table that has a control, in table order. A row that fails does not
// stop the rows after it. False when a save could not write every key.
bool PersistSettings(HWND dialog, PersistDirection direction);

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
