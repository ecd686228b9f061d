// The command line of vorlane-relay: each option is a key of the settings
// table, given as text and checked as the config file's value would be. What
// is not given here comes from the config file or the defaults (see
// relay_config.h).
#pragma once

#include <array>
#include <optional>
#include <string>

#include "settings/setting_keys.h"

struct RelayOptions {
    std::optional<std::string> configPath;
    bool checkConfig = false;  // print the resolved settings and exit
    // A file holding the link key alone; it wins over the config file's LinkKey.
    std::optional<std::string> keyFilePath;
    // Each key's text as the command line gave it, already checked: --encode
    // gives both boxes, every --allow one list, --quiet the level error and a
    // bare --stats 1 second.
    std::array<std::optional<std::string>, kSettingCount> given;

    const std::optional<std::string>& Given(Setting setting) const {
        return given[static_cast<std::size_t>(setting)];
    }
};

// Either options to run with, or an exit code: 0 after --help, --version or
// --generate-key, 2 after a malformed option, whose one-line error is already
// on stderr (1 when no key could be made).
struct ParsedCommandLine {
    std::optional<RelayOptions> options;
    int exitCode = 0;
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// Prints "vorlane-relay: <message>" as one line on stderr, control characters
// and invalid bytes escaped (see printable_text.h).
void PrintUsageError(const std::string& message);
