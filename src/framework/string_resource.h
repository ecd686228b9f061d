// Narrow text of a string resource.
#pragma once

#include <windows.h>

#include <string>

// Empty when the string does not exist. At most 255 characters, as the
// framework's 256-character buffer holds.
std::string LoadStringResource(HINSTANCE instance, UINT id);
