// Private-profile reads and writes on a file path, with the results of
// GetPrivateProfileStringA and WritePrivateProfileStringA, for platforms
// that do not have them. The file is read afresh on every call.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "settings/ini_document.h"

// A key's value as a buffer of bufferSize characters (terminator included)
// receives it: a missing section or key gives defaultValue, and at most
// bufferSize - 1 characters are kept. As with the Windows call, a NUL byte in
// the value ends it and trailing blanks of the default are dropped.
std::string ProfileValue(const IniDocument& document, std::string_view section,
                         std::string_view key, std::string_view defaultValue, int bufferSize);

// As ProfileValue; a missing or unreadable file reads as an empty one.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue, int bufferSize);

// The whole file, or nothing when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::string& path);
